#pragma once
// The xBase table component: a dataset over one table of the xBase engine
// (libxbe50.so, driven only through its C entries). It keeps one current
// record, moves forwards and backwards in natural or index order, seeks,
// edits, appends, posts and cancels, and converts the engine's raw records
// into typed field values (XbRecord.h). Failures raise EXbError or EOSError.
//
// The engine has one current work area per process: every call that depends
// on it selects the table's work area first. Code that calls the engine
// directly (the full-text upkeep) must do the same and put the engine's
// record position back afterwards.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "xbase/XbField.h"
#include "xbase/XbRecord.h"

class TCustomXbDataSet;

// Every failure of the table layer. With a table, the message is followed by
// a blank line ("\r\n\r\n") and the table's full file name.
class EXbError : public std::runtime_error {
 public:
  explicit EXbError(const std::string& message);
  EXbError(const std::string& message, const TCustomXbDataSet& table);
};

// An operating-system failure: "Systemfehler.  Code: %d.\r\n%s%s". A table
// file held by another program (the sharing conflict of exclusive use)
// reports EBUSY.
class EOSError : public std::runtime_error {
 public:
  explicit EOSError(int errorCode);
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// Engine driver kind, decided by the first byte of the DBF at every open.
enum TTableType { ttXBNTX, ttXBFOX, ttXBNSX };

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// One order (index tag) of the open table, as the engine reports it.
struct TXbIndexDef {
  std::string Name;
  std::string Expression;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
};

class TCustomXbDataSet {
 public:
  TCustomXbDataSet();
  virtual ~TCustomXbDataSet();
  TCustomXbDataSet(const TCustomXbDataSet&) = delete;
  TCustomXbDataSet& operator=(const TCustomXbDataSet&) = delete;

  // Configuration. TableName and Exclusive (and ReadOnly) cannot change while
  // a work area is open. Setting the table name probes the table file with
  // the current data path (empty while closed: the current directory).
  void SetName(const std::string& name) { FName = name; }  // component name, for messages
  const std::string& Name() const { return FName; }
  void SetDatabaseName(const std::string& dir);
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetTableName(const std::string& name);
  const std::string& TableName() const { return FTableName; }
  void SetExclusive(bool value);
  bool Exclusive() const { return FExclusive; }
  void SetReadOnly(bool value);
  bool ReadOnly() const { return FReadOnly; }
  void SetOptimisticCommit(bool value) { FOptimisticCommit = value; }
  bool OptimisticCommit() const { return FOptimisticCommit; }
  void SetTurboRead(std::int16_t value) { FTurboRead = value; }
  std::int16_t TurboRead() const { return FTurboRead; }

  TTableType TableType() const { return FTableType; }
  std::int16_t WorkArea() const { return FWorkArea; }
  // Directory of the current open with a trailing separator; empty while closed.
  const std::string& DataPath() const { return FDataPath; }
  const std::string& AliasName() const { return FAliasName; }
  const std::string& IndexName() const { return FIndexName; }
  // ".NTX", ".CDX" or ".NSX" for the current TableType.
  std::string IndexExt() const;
  std::int32_t LastPostedRecNo() const { return FLastPostedRecNo; }
  const std::vector<TXbIndexDef>& IndexDefs() const { return FIndexDefs; }
  // DataPath + file name part of TableName (+ ".DBF" without extension).
  std::string FullFileName() const;

  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return FState != dsInactive; }
  virtual void SetActive(bool value);
  TDataSetState State() const { return FState; }

  // Navigation in the current order.
  std::int16_t SetOrder(std::int16_t order);
  std::int16_t Seek(const std::string& key);  // non-zero when found
  void GoTop();
  void Skip(std::int32_t count = 1);
  // The end-of-file flag as a 16-bit boolean (-1 or 0); EOF in the original,
  // renamed because EOF is a C macro. 0 while closed.
  std::int16_t Eof() const;
  std::int16_t Bof() const;
  // Physical number of the current record (for a pending append the number
  // it is expected to get); 0 while closed.
  std::int32_t RecNo() const;

  // Fields (names compared without regard to case).
  TField& FieldByName(const std::string& name);
  TField* FindField(const std::string& name);
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TField& Fields(int index) { return *FFields.at(static_cast<std::size_t>(index)); }
  // The field's text without trailing blanks (UTF-8); empty while closed.
  std::string GetTrimString(const std::string& fieldName);
  // Whether the current record carries the deletion mark.
  bool Deleted() const { return FCurrent.Deleted; }

  void Edit();
  void Append();
  void Post();
  void Cancel();
  bool Modified() const { return FModified; }

 protected:
  // The engine must hold this table's work area as current before direct
  // engine calls; throws when no work area is open.
  void SelectWorkArea() const;

 private:
  friend class TField;

  // The values of a record read from the table are converted from its bytes
  // on first access only: a walk that reads two fields of a wide record does
  // not convert the others.
  struct TCurrentRecord {
    std::string Raw;                                  // the record as read
    mutable std::vector<xbrec::TFieldValue> Values;   // one per field object
    mutable std::vector<unsigned char> Converted;     // Values[i] holds field i
    std::vector<unsigned char> Assigned;              // field i was set since the read
    std::int32_t RecNo = 0;
    bool Deleted = false;
    bool HasRecord = false;  // false on an empty table or before the first read
  };

  void InternalOpen();
  void InternalClose();
  void ProbeTable();
  void OpenWorkArea(bool probeOnly);
  std::string ComputeDataPath() const;
  std::string FormAlias() const;
  void ReadIndexDefs();
  void ReadFieldDefs();
  void ReadCurrentFromEngine();  // xb_GetRecord of the engine's current record
  void ClearCurrent();
  // A current record without stored bytes: every field empty and converted.
  void ResetCurrentValues();
  void GoBottomAfterEnd();
  void CheckActive() const;
  void CheckBrowseMode();
  void CheckModifiable() const;
  void CheckEditing(const TField& field) const;
  std::string BuildRawRecord(bool inserting);

  // Field-side access to the current record.
  const xbrec::TFieldValue& Value(int index) const;
  void SetValue(int index, xbrec::TFieldValue value);
  const xbrec::TFieldInfo& Info(int index) const { return FFieldInfos[static_cast<std::size_t>(index)]; }
  std::string ReadMemo(int index) const;

  std::string FName;
  std::string FDatabaseName;
  std::string FTableName;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FOptimisticCommit = true;
  std::int16_t FTurboRead = 0;
  TTableType FTableType = ttXBFOX;
  std::int16_t FWorkArea = 0;
  std::string FDataPath;
  std::string FAliasName;
  std::string FIndexName;
  std::int32_t FLastPostedRecNo = 0;
  std::int32_t FXBEFieldCount = 0;
  std::int32_t FOldRec = 0;
  // Record number of a blank record the engine appended for the pending
  // insert whose write then failed; a retried Post writes into it.
  std::int32_t FAppending = 0;
  bool FEncrypted = false;
  std::int32_t FRecSize = 0;

  TDataSetState FState = dsInactive;
  bool FEof = true;
  bool FBof = true;
  bool FModified = false;
  TCurrentRecord FCurrent;
  std::vector<std::unique_ptr<TField>> FFields;
  std::vector<xbrec::TFieldInfo> FFieldInfos;  // one per field object
  std::vector<TXbIndexDef> FIndexDefs;
};

class TXbTable : public TCustomXbDataSet {
 public:
  TXbTable() = default;
};
