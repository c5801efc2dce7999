#pragma once
// One open table: the DBF, its memo file, its production index and the
// cursor (current record, current order, BOF/EOF). Every change goes through
// here so that every tag is updated with it or the change is refused.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Dbf.h"
#include "Index.h"
#include "Memo.h"
#include "RecordView.h"
#include "platform/LockDescriptor.h"

namespace xbe {

enum class OpenMode { Shared = 0, ReadOnly = 1, Exclusive = 2 };
enum class Driver { Auto = 0, Ntx = 1, Fox = 2, Nsx = 3 };
enum class IndexKind { None, Cdx, Ntx };

// Tag flags for CreateTag (as xb_CreateTag takes them).
enum : unsigned { kTagDescending = 1, kTagUnique = 2, kTagCandidate = 4 };

class WorkArea {
 public:
  // `alias` empty: formed from the file name. Null with *error on failure;
  // nothing is written by a failed open.
  static std::unique_ptr<WorkArea> Open(const std::string& path, const std::string& alias,
                                        OpenMode mode, Driver driver, std::string* error);
  ~WorkArea();
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;

  // Flushes everything to disk and releases the files; false when a flush failed.
  bool Close(std::string* error);

  const DbfTable& Table() const { return *table_; }
  const std::string& Alias() const { return alias_; }
  const std::string& Path() const { return path_; }
  OpenMode Mode() const { return mode_; }
  IndexKind ProductionIndexKind() const { return indexKind_; }
  const std::string& ProductionIndexPath() const { return indexPath_; }

  // Orders: 1..OrderCount; 0 is natural order.
  int OrderCount() const { return static_cast<int>(orders_.size()); }
  IndexTag* OrderTag(int order) const;
  int CurrentOrder() const { return order_; }
  bool SetOrder(int order);
  int FindOrder(std::string_view tagName) const;  // 0 when absent

  // Positioning in the current order. False with *error on a read error.
  bool GoTop(std::string* error);
  bool GoBottom(std::string* error);
  bool Skip(std::int64_t count, std::string* error);
  bool Go(std::uint32_t recno, std::string* error);
  // True when a record with exactly the key (character keys: as prefix)
  // exists; it becomes current. Otherwise EOF.
  bool Seek(std::string_view text, bool& found, std::string* error);
  std::uint32_t RecNo() const { return recno_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  std::uint32_t RecCount();
  void SetDeletedFilter(bool on) { hideDeleted_ = on; }

  // The current record (a blank record at EOF).
  const std::string& Record() const { return record_; }
  const RecordAccess& Current() const { return *view_; }
  bool Deleted() const { return !eof_ && record_[0] == '*'; }

  // Writes keep every tag in step or change nothing.
  bool PutRecord(std::string_view data, std::string* error);
  bool AppendBlank(std::string* error);
  // Appends a record with the given bytes (deletion flag included) in one step.
  bool AppendRecord(std::string_view data, std::string* error);
  bool SetDeleted(bool deleted, std::string* error);
  bool MemoRead(int field, std::string& out, std::string* error);
  bool MemoWrite(int field, std::string_view data, std::string* error);

  bool Rlock(std::uint32_t recno, std::string* error);
  bool Locked(std::uint32_t recno) const;
  bool Unlock(std::uint32_t recno);
  bool Commit(std::string* error);

  bool EvalString(std::string_view expr, std::string& out, std::string* error);
  // Adds a tag to the production CDX, or writes the table's NTX.
  bool CreateTag(const std::string& tag, const std::string& keyExpr, const std::string& forExpr,
                 unsigned flags, std::string* error);
  // Verifies every tag against the table; findings go to *report.
  bool CheckIndexes(std::string* report);

 private:
  struct OrderRef {
    IndexFile* file = nullptr;
    int tag = 0;
  };
  struct TagChange;
  struct AppliedOp;

  WorkArea() = default;
  bool OpenIndexes(std::string* error);
  bool CloseIndexes(std::string* error);
  bool LoadRecord(std::uint32_t recno, std::string* error);
  void SetEof();
  bool Writable(std::string* error) const;
  bool RequireRecord(std::string* error) const;

  // Ordered navigation.
  bool PositionCursor(bool& exact, std::string* error);
  bool StepCursor(bool forward, bool& firstStep, bool exact);
  bool LoadFromCursor(std::string* error);
  // Makes the record of an index entry current. Here LoadRecord's work for
  // a record of the table that reads without error; anything else goes the
  // general way for its checks and messages.
  bool LoadIndexed(std::uint32_t recno, std::string* error) {
    if (recno <= table_->RecordCount() && table_->ReadRecord(recno, record_.data(), nullptr)) {
      recno_ = recno;
      eof_ = false;
      view_->Point(record_.data(), recno_);
      cursorOnRecord_ = true;
      return true;
    }
    return LoadIndexedAnyWay(recno, error);
  }
  bool LoadIndexedAnyWay(std::uint32_t recno, std::string* error);
  bool StepInOrder(bool forward, bool& ok, std::string* error);
  bool SkipOrdered(std::int64_t count, std::string* error);
  bool SkipNatural(std::int64_t count, std::string* error);

  // Index maintenance.
  bool PrepareChanges(std::uint32_t recno, const std::string* oldRec, const std::string& newRec,
                      std::vector<TagChange>& changes, std::string* error);
  bool ApplyChanges(std::uint32_t recno, std::vector<TagChange>& changes,
                    std::vector<AppliedOp>& applied, std::string* error);
  void Revert(std::vector<AppliedOp>& applied);
  bool FindUniqueReplacement(IndexTag& tag, const std::string& key, std::uint32_t skip,
                             std::uint32_t& found, std::string* error);
  bool WriteRecordWithIndexes(std::uint32_t recno, const std::string& newRec, std::string* error);

  std::string path_;
  std::string alias_;
  OpenMode mode_ = OpenMode::Shared;
  Driver driver_ = Driver::Auto;
  std::unique_ptr<DbfTable> table_;
  std::unique_ptr<MemoFile> memo_;
  platform::LockDescriptor locks_;
  std::set<std::uint32_t> recordLocks_;

  IndexKind indexKind_ = IndexKind::None;
  std::string indexPath_;
  std::vector<std::unique_ptr<IndexFile>> indexes_;
  std::vector<OrderRef> orders_;
  int order_ = 0;
  IndexTag* orderTag_ = nullptr;  // the current order's tag, null in natural order
  bool orderDescending_ = false;  // and whether it is descending
  std::unique_ptr<TagCursor> cursor_;
  bool cursorOnRecord_ = false;  // cursor_ sits on the current record's entry

  std::string record_;
  std::string blank_;  // an empty record of this table, made once
  std::unique_ptr<RecordView> view_;
  std::uint32_t recno_ = 0;
  bool bof_ = false;
  bool eof_ = true;
  bool hideDeleted_ = false;

  // Buffers reused by every write, so that a write allocates nothing once
  // they have grown to size.
  std::vector<TagChange> changes_;
  std::vector<AppliedOp> applied_;
  std::vector<IndexTag*> lookTags_;
  std::vector<const IndexEntry*> lookEntries_;
  std::vector<IndexTag*> wayTags_;
  std::vector<const IndexEntry*> wayEntries_;
  std::unique_ptr<bool[]> lookFound_;
  std::size_t lookFoundSize_ = 0;
  std::string scratchRecord_, scratchNew_;
  std::string seekKey_;  // Seek's key, kept so that a seek allocates nothing
  std::unique_ptr<RecordView> scratchView_, scratchOldView_;
};

// Creates an empty table, and its memo file when a field is a memo: for the
// NTX driver 0x83 with DBT, else 0xF5 with FPT; 0x03 without memo fields.
bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields, Driver driver,
                 std::string* error);
// "NAME:TYPE:WIDTH[:DEC];..." as xb_Create takes it.
bool ParseFieldSpecs(const std::string& text, std::vector<FieldSpec>& out, std::string* error);

// The alias formed from a table path: file name upper-cased up to the first
// ".", at most 8 characters, characters other than letters and digits as "_".
std::string AliasFromPath(std::string_view path);

}  // namespace xbe
