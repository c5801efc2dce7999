#include "xbase/XbDSet.h"

#include <cerrno>
#include <utility>

#include "platform/Encoding.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/ProbeFile.h"
#include "xbase/XbeAccess.h"

namespace {

constexpr const char* kTableIsOpen = "Cannot perform this operation on an open table";
constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
constexpr const char* kReadOnly = "Cannot modify a read-only data set";
constexpr const char* kLockFailure = "Record Lock Failure. May be locked by another user or task.";
constexpr const char* kNotEditing = "Datenmenge ist nicht im Bearbeitungs- oder Einfügemodus";

// The byte every program that opens a table file locks while it has it
// open; the engine library takes the same lock for the life of its work
// area (see xbe50.h).
constexpr std::int64_t kOpenUseLockOffset = XB_USE_LOCK_OFFSET;

// Keys and expressions go to the engine in Windows-1252.
std::string Ansi(const std::string& utf8) {
  auto ansi = platform::Utf8ToWin1252(utf8);
  if (!ansi)
    throw EXbError("Der Text '" + utf8 + "' enthält Zeichen, die in Windows-1252 nicht darstellbar sind");
  return std::move(*ansi);
}

std::string Utf8(const char* ansi) { return ansi ? platform::Win1252ToUtf8(ansi) : std::string(); }

std::string EngineError(const TXBEEntries& x) {
  std::string text = Utf8(x.xb_LastError());
  return text.empty() ? std::string("Unbekannter Fehler der xBase-Bibliothek") : text;
}

std::string TableFilePart(const std::string& tableName) {
  std::string file = platform::FileNamePart(platform::NativeSeparators(tableName));
  if (platform::ExtensionPart(file).empty()) file += ".DBF";
  return file;
}

}  // namespace

EXbError::EXbError(const std::string& message) : std::runtime_error(message) {}

EXbError::EXbError(const std::string& message, const TCustomXbDataSet& table)
    : std::runtime_error(message + "\r\n\r\n" + table.FullFileName()) {}

EOSError::EOSError(int errorCode)
    : std::runtime_error(errorCode != 0 ? "Systemfehler.  Code: " + std::to_string(errorCode) + ".\r\n" +
                                              platform::ErrorText(errorCode)
                                        : std::string("Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen")),
      FErrorCode(errorCode) {}

TCustomXbDataSet::TCustomXbDataSet() = default;

TCustomXbDataSet::~TCustomXbDataSet() {
  try {
    InternalClose();
  } catch (...) {
    // A destructor cannot report; the engine closes the work area with the process.
  }
}

// ---------------------------------------------------------------- configuration

void TCustomXbDataSet::SetDatabaseName(const std::string& dir) {
  FDatabaseName = dir;
  if (Active() && !FTableName.empty()) {
    if (!platform::FileExists(platform::ResolveNoCase(ComputeDataPath() + TableFilePart(FTableName))))
      Close();
  }
}

void TCustomXbDataSet::SetTableName(const std::string& name) {
  if (FWorkArea != 0 && name != FTableName) throw EXbError(kTableIsOpen, *this);
  FTableName = name;
  if (!Active()) ProbeTable();
}

void TCustomXbDataSet::SetExclusive(bool value) {
  if (FWorkArea != 0 && value != FExclusive) throw EXbError(kTableIsOpen, *this);
  FExclusive = value;
}

void TCustomXbDataSet::SetReadOnly(bool value) {
  if (FWorkArea != 0 && value != FReadOnly) throw EXbError(kTableIsOpen, *this);
  FReadOnly = value;
}

std::string TCustomXbDataSet::IndexExt() const {
  switch (FTableType) {
    case ttXBNTX: return ".NTX";
    case ttXBNSX: return ".NSX";
    default: return ".CDX";
  }
}

std::string TCustomXbDataSet::FullFileName() const { return FDataPath + TableFilePart(FTableName); }

std::string TCustomXbDataSet::ComputeDataPath() const {
  const std::string tableName = platform::NativeSeparators(FTableName);
  std::string path = platform::DirectoryPart(tableName);
  // No database components exist, so a DatabaseName is always a directory.
  if (path.empty()) path = platform::NativeSeparators(FDatabaseName);
  if (path.empty()) path = platform::CurrentDirectory();
  if (path.back() != platform::kPathSep) path += platform::kPathSep;
  return path;
}

std::string TCustomXbDataSet::FormAlias() const {
  std::string alias =
      platform::AsciiUpper(platform::Utf8ToWin1252Lossy(platform::FileNamePart(platform::NativeSeparators(FTableName))));
  alias = alias.substr(0, alias.find('.')).substr(0, 8);
  for (char& c : alias)
    if (c < 'A' || c > 'Z') c = '_';
  const TXBEEntries& x = Xbe();
  for (int k = 1; x.xb_WorkArea(alias.c_str()) != 0; ++k) {
    const std::string digits = std::to_string(k);
    alias = alias.substr(0, 8 - digits.size()) + digits;
  }
  return alias;
}

// ---------------------------------------------------------------- open and close

void TCustomXbDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    try {
      InternalOpen();
    } catch (...) {
      InternalClose();
      throw;
    }
  } else {
    InternalClose();
  }
}

void TCustomXbDataSet::ProbeTable() {
  // Looks with the data path of the current state, which is empty while the
  // table is closed: only a table in the current directory is found, and
  // then exactly that file is opened and closed again to learn its kind.
  if (FTableName.empty() || !platform::FileExists(platform::ResolveNoCase(FullFileName()))) return;
  try {
    OpenWorkArea(true);
  } catch (...) {
    InternalClose();
    throw;
  }
  InternalClose();
}

void TCustomXbDataSet::OpenWorkArea(bool probeOnly) {
  FWorkArea = 0;
  if (FTableName.empty()) throw EXbError(FName + " : " + "Missing TableName property");
  const TXBEEntries& x = Xbe();
  FAliasName = FormAlias();
  if (!probeOnly) FDataPath = ComputeDataPath();
  const std::string full = FullFileName();
  const std::string file = platform::ResolveNoCase(full);

  int firstByte = -1;
  {
    platform::ProbeFile probe;
    if (const int err = probe.Open(file, !FReadOnly || FExclusive); err != 0) throw EOSError(err);
    if (!platform::TryLockRange(probe.Fd(), FExclusive ? platform::LockKind::Exclusive : platform::LockKind::Shared,
                                kOpenUseLockOffset, 1)) {
      const int err = errno;
      throw EOSError(err == EAGAIN || err == EACCES ? EBUSY : err);
    }
    firstByte = probe.FirstByte();
  }

  const char* memoExt = nullptr;
  switch (firstByte) {
    case 0x83:
    case 0x86:
      FTableType = ttXBNTX;
      memoExt = ".DBT";
      break;
    case 0xF5:
    case 0xF6:
      FTableType = ttXBFOX;
      memoExt = ".FPT";
      break;
    case 0xE5:
    case 0xE6:
      FTableType = ttXBNSX;
      memoExt = ".SMT";
      break;
    default:
      break;  // a table without memo file keeps the kind it had
  }
  if (memoExt) {
    const std::string memo = platform::ChangeExtension(full, memoExt);
    if (!platform::FileExists(platform::ResolveNoCase(memo)))
      throw EXbError("Associated MEMO file does not exist.\rFile: " + platform::AsciiUpper(memo));
  }

  const std::int16_t driver = FTableType == ttXBNTX ? XB_DRIVER_NTX : FTableType == ttXBNSX ? XB_DRIVER_NSX : XB_DRIVER_FOX;
  const std::int16_t mode = FExclusive ? XB_MODE_EXCLUSIVE : FReadOnly ? XB_MODE_READONLY : XB_MODE_SHARED;
  x.xb_SetEpoch(1980);
  // The path goes as the file system spells it; the engine opens it as given.
  FWorkArea = x.xb_Use(file.c_str(), FAliasName.c_str(), mode, driver);
  if (FWorkArea == 0) throw EXbError("Unable to open table.\rFile: " + full);

  FXBEFieldCount = x.xb_FieldCount();
  FEncrypted = x.xb_IsEncrypted(0) != 0;
  x.xb_SetTurboRead(FTurboRead);
  x.xb_SetDeleted(0);
  ReadIndexDefs();
}

void TCustomXbDataSet::ReadIndexDefs() {
  const TXBEEntries& x = Xbe();
  FIndexDefs.clear();
  const std::int32_t count = x.xb_SysProp(XB_PROP_ORDER_COUNT, 0);
  const std::int16_t current = x.xb_IndexOrd();
  for (std::int16_t i = 1; i <= count; ++i) {
    TXbIndexDef def;
    def.Name = Utf8(FTableType == ttXBNTX ? x.xb_IndexName(i) : x.xb_TagName(i));
    def.Expression = Utf8(x.xb_IndexKey(i));
    const std::int16_t type = x.xb_IndexType(i);
    def.Unique = type == XB_INDEX_UNIQUE || type == XB_INDEX_CANDIDATE;
    x.xb_SetOrder(i);
    def.Descending = x.xb_SysProp(XB_PROP_DESCENDING, 0) != 0;
    def.CaseInsensitive = platform::AsciiUpper(def.Expression).find("UPPER(") != std::string::npos;
    FIndexDefs.push_back(std::move(def));
  }
  x.xb_SetOrder(current);
}

void TCustomXbDataSet::ReadFieldDefs() {
  const TXBEEntries& x = Xbe();
  FFields.clear();
  FFieldInfos.clear();
  FRecSize = x.xb_RecSize();
  for (std::int16_t i = 1; i <= FXBEFieldCount; ++i) {
    const char* rawName = x.xb_FieldName(i);
    xbrec::TFieldInfo info;
    info.Name = rawName ? rawName : "";
    const char* type = x.xb_FieldType(info.Name.c_str());
    info.Letter = type && *type ? type[0] : '\0';
    info.XBEOffset = x.xb_FieldOffset(info.Name.c_str()) - 1;
    info.Width = x.xb_FieldWidth(info.Name.c_str());
    info.Decimals = x.xb_FieldDecimals(info.Name.c_str());
    const auto kind = xbrec::KindFromType(info.Letter, info.Width, info.Decimals);
    if (!kind) continue;  // no field object: its bytes are written back as stored
    info.Kind = *kind;
    if (info.XBEOffset < 1 || info.Width < 1 || info.XBEOffset + info.Width > FRecSize)
      throw EXbError("Ungültige Feldbeschreibung '" + Utf8(info.Name.c_str()) + "' in der Tabelle", *this);
    const int index = static_cast<int>(FFields.size());
    FFields.push_back(std::make_unique<TField>(*this, index, Utf8(info.Name.c_str()), info.Kind, info.Width,
                                               info.Decimals));
    FFieldInfos.push_back(std::move(info));
  }
}

void TCustomXbDataSet::InternalOpen() {
  OpenWorkArea(false);
  ReadFieldDefs();
  const TXBEEntries& x = Xbe();
  // Natural order until SetOrder chooses another.
  x.xb_SetOrder(0);
  FIndexName.clear();
  FState = dsBrowse;
  FModified = false;
  FOldRec = 0;
  FAppending = 0;
  x.xb_GoTop();
  if (x.xb_Eof()) {
    ClearCurrent();
  } else {
    ReadCurrentFromEngine();
    FEof = false;
  }
  FBof = true;
}

void TCustomXbDataSet::InternalClose() {
  if (FWorkArea != 0) {
    const TXBEEntries& x = Xbe();
    x.xb_Select(FWorkArea);
    if (FState == dsInsert && FAppending != 0) {
      // The blank record of an insert whose write failed is not left as data.
      x.xb_Go(FAppending);
      x.xb_Delete();
    }
    x.xb_Close();
    FWorkArea = 0;
  }
  FDataPath.clear();
  FFields.clear();
  FFieldInfos.clear();
  FIndexDefs.clear();
  FIndexName.clear();
  FCurrent = TCurrentRecord{};
  FState = dsInactive;
  FEof = true;
  FBof = true;
  FModified = false;
  FOldRec = 0;
  FAppending = 0;
  FRecSize = 0;
  FXBEFieldCount = 0;
}

// ---------------------------------------------------------------- records

void TCustomXbDataSet::ResetCurrentValues() {
  FCurrent = TCurrentRecord{};
  FCurrent.Values.resize(FFields.size());
  FCurrent.Converted.assign(FFields.size(), 1);
  FCurrent.Assigned.assign(FFields.size(), 0);
}

void TCustomXbDataSet::ClearCurrent() {
  ResetCurrentValues();
  FEof = true;
}

void TCustomXbDataSet::ReadCurrentFromEngine() {
  const TXBEEntries& x = Xbe();
  // The buffer of the previous record is reused: a walk allocates nothing.
  FCurrent.Raw.assign(static_cast<std::size_t>(FRecSize), ' ');
  if (!x.xb_GetRecord(FCurrent.Raw.data())) throw EXbError(EngineError(x), *this);
  FCurrent.RecNo = x.xb_RecNo();
  FCurrent.Deleted = !FCurrent.Raw.empty() && FCurrent.Raw[0] == '*';
  FCurrent.HasRecord = true;
  const std::size_t n = FFieldInfos.size();
  FCurrent.Values.resize(n);
  FCurrent.Converted.assign(n, 0);
  FCurrent.Assigned.assign(n, 0);
  if (FEncrypted) {
    for (std::size_t i = 0; i < n; ++i) {
      xbrec::TFieldValue v;
      v.HasValue = true;
      if (FFieldInfos[i].Kind == fkString) v.Text.assign(static_cast<std::size_t>(FFieldInfos[i].Width), '*');
      FCurrent.Values[i] = std::move(v);
    }
    FCurrent.Converted.assign(n, 1);
  }
}

const xbrec::TFieldValue& TCustomXbDataSet::Value(int index) const {
  const auto i = static_cast<std::size_t>(index);
  if (!FCurrent.Converted[i]) {
    FCurrent.Values[i] = xbrec::ReadField(FFieldInfos[i], FCurrent.Raw);
    FCurrent.Converted[i] = 1;
  }
  return FCurrent.Values[i];
}

// After a move that left the order, the last record of the order stays
// current with the end-of-file flag set.
void TCustomXbDataSet::GoBottomAfterEnd() {
  const TXBEEntries& x = Xbe();
  x.xb_GoBottom();
  if (x.xb_Eof() || x.xb_RecNo() <= 0) {
    ClearCurrent();
  } else {
    ReadCurrentFromEngine();
  }
  FEof = true;
}

void TCustomXbDataSet::SetValue(int index, xbrec::TFieldValue value) {
  const auto i = static_cast<std::size_t>(index);
  FCurrent.Values[i] = std::move(value);
  FCurrent.Converted[i] = 1;
  FCurrent.Assigned[i] = 1;
  FModified = true;
}

std::string TCustomXbDataSet::ReadMemo(int index) const {
  if (FState == dsInsert || !FCurrent.HasRecord) return {};
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  x.xb_Go(FCurrent.RecNo);
  const std::string& name = Info(index).Name;
  const std::int32_t len = x.xb_MemoLen(name.c_str());
  if (len < 0) throw EXbError(EngineError(x), *this);
  std::string data(static_cast<std::size_t>(len), '\0');
  const std::int32_t got = len > 0 ? x.xb_MemoRead(name.c_str(), data.data(), len) : 0;
  if (got < 0) throw EXbError(EngineError(x), *this);
  data.resize(static_cast<std::size_t>(got));
  return platform::Win1252ToUtf8(data);
}

// ---------------------------------------------------------------- checks

void TCustomXbDataSet::SelectWorkArea() const {
  if (FWorkArea == 0) throw EXbError(kDataSetClosed);
  Xbe().xb_Select(FWorkArea);
}

void TCustomXbDataSet::CheckActive() const {
  if (!Active()) throw EXbError(kDataSetClosed);
}

void TCustomXbDataSet::CheckBrowseMode() {
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) {
    if (FModified)
      Post();
    else
      Cancel();
  }
}

void TCustomXbDataSet::CheckModifiable() const {
  if (FReadOnly) throw EXbError(kReadOnly, *this);
}

void TCustomXbDataSet::CheckEditing(const TField&) const {
  if (FState != dsEdit && FState != dsInsert) throw EXbError(kNotEditing);
}

// ---------------------------------------------------------------- navigation

std::int16_t TCustomXbDataSet::SetOrder(std::int16_t order) {
  if (FWorkArea == 0) return 0;
  CheckBrowseMode();
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  const std::int16_t result = x.xb_SetOrder(order);
  FIndexName = Utf8(FTableType == ttXBNTX ? x.xb_IndexName(order) : x.xb_TagName(order));
  if (FCurrent.HasRecord) {
    x.xb_Go(FCurrent.RecNo);
    ReadCurrentFromEngine();
    FEof = false;
    FBof = false;
  }
  return result;
}

std::int16_t TCustomXbDataSet::Seek(const std::string& key) {
  if (FWorkArea == 0 || FIndexName.empty()) return 0;
  CheckBrowseMode();
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  const std::int16_t found = x.xb_Seek(Ansi(key).c_str());
  if (found) {
    ReadCurrentFromEngine();
    FEof = false;
    FBof = false;
  } else {
    GoBottomAfterEnd();
  }
  return found;
}

void TCustomXbDataSet::GoTop() {
  CheckBrowseMode();
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  x.xb_GoTop();
  if (x.xb_Eof()) {
    ClearCurrent();
  } else {
    ReadCurrentFromEngine();
    FEof = false;
  }
  FBof = true;
}

void TCustomXbDataSet::Skip(std::int32_t count) {
  CheckBrowseMode();
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  if (count == 0) {
    if (FCurrent.HasRecord) {
      x.xb_Go(FCurrent.RecNo);
      ReadCurrentFromEngine();
    }
    return;
  }
  for (; count > 0; --count) {
    if (FEof || !FCurrent.HasRecord) {
      FEof = true;
      break;
    }
    const std::int32_t before = FCurrent.RecNo;
    x.xb_Go(before);
    x.xb_Skip(1);
    if (x.xb_Eof() || x.xb_RecNo() == before) {
      FEof = true;
      break;
    }
    ReadCurrentFromEngine();
    FBof = false;
  }
  for (; count < 0; ++count) {
    if (FBof || !FCurrent.HasRecord) {
      FBof = true;
      break;
    }
    const std::int32_t before = FCurrent.RecNo;
    x.xb_Go(before);
    x.xb_Skip(-1);
    if (x.xb_Bof() || x.xb_RecNo() == before) {
      FBof = true;
      break;
    }
    ReadCurrentFromEngine();
    FEof = false;
  }
}

std::int16_t TCustomXbDataSet::Eof() const { return Active() && FEof ? -1 : 0; }

std::int16_t TCustomXbDataSet::Bof() const { return Active() && FBof ? -1 : 0; }

std::int32_t TCustomXbDataSet::RecNo() const { return FWorkArea == 0 ? 0 : FCurrent.RecNo; }

// ---------------------------------------------------------------- fields

TField* TCustomXbDataSet::FindField(const std::string& name) {
  // Callers mostly spell the name as the table does: that is checked first.
  for (const auto& f : FFields)
    if (f->FieldName() == name) return f.get();
  for (const auto& f : FFields)
    if (platform::EqualsNoCase(f->FieldName(), name)) return f.get();
  return nullptr;
}

TField& TCustomXbDataSet::FieldByName(const std::string& name) {
  if (TField* f = FindField(name)) return *f;
  throw EXbError("Das Feld '" + name + "' wurde nicht gefunden");
}

std::string TCustomXbDataSet::GetTrimString(const std::string& fieldName) {
  if (FWorkArea == 0) return {};
  std::string s = FieldByName(fieldName).AsString();
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// ---------------------------------------------------------------- edit, append, post, cancel

void TCustomXbDataSet::Edit() {
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) return;
  CheckModifiable();
  if (!FCurrent.HasRecord) {  // nothing to edit: an empty table gets a new record
    Append();
    return;
  }
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  x.xb_Go(FCurrent.RecNo);
  if (!x.xb_Rlock(x.xb_RecNo())) throw EXbError(kLockFailure, *this);
  try {
    x.xb_Go(FCurrent.RecNo);
    ReadCurrentFromEngine();  // the edit starts from the values on disk
  } catch (...) {
    x.xb_Unlock(0);
    throw;
  }
  FState = dsEdit;
  FModified = false;
}

void TCustomXbDataSet::Append() {
  CheckBrowseMode();
  CheckModifiable();
  SelectWorkArea();
  FOldRec = FCurrent.HasRecord ? FCurrent.RecNo : 0;
  FAppending = 0;
  ResetCurrentValues();
  FCurrent.HasRecord = true;
  FCurrent.RecNo = Xbe().xb_RecCount() + 1;
  FState = dsInsert;
  FModified = false;
}

std::string TCustomXbDataSet::BuildRawRecord(bool inserting) {
  const TXBEEntries& x = Xbe();
  std::string raw(static_cast<std::size_t>(FRecSize), ' ');
  // The stored record is the base, so bytes of fields without a field object
  // keep their values; a new record starts blank.
  if (!inserting || FAppending != 0) {
    if (!x.xb_GetRecord(raw.data())) throw EXbError(EngineError(x), *this);
  }
  // An edit writes the fields that were set and keeps the stored bytes of
  // the others exactly; a new record gets every field in its empty form
  // (binary fields are not blanks).
  for (std::size_t i = 0; i < FFieldInfos.size(); ++i) {
    if (!inserting && !FCurrent.Assigned[i]) continue;
    std::string overflow;
    if (!xbrec::WriteField(FFieldInfos[i], FCurrent.Values[i], raw, &overflow))
      throw EXbError("Translate error. Value out of bounds\r\nField: " + FFields[i]->FieldName() +
                         "\r\nValue: " + overflow,
                     *this);
  }
  if (!raw.empty()) {
    if (inserting)
      raw[0] = ' ';
    else if (x.xb_Deleted())
      raw[0] = '*';
  }
  return raw;
}

void TCustomXbDataSet::Post() {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) return;
  const bool inserting = FState == dsInsert;
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  // The record is converted before anything is written, so a value that does
  // not fit leaves the table as it was (no blank record is appended for it).
  if (!inserting)
    x.xb_Go(FCurrent.RecNo);  // the record Edit locked
  else if (FAppending != 0)
    x.xb_Go(FAppending);
  const std::string raw = BuildRawRecord(inserting);
  if (inserting && FAppending == 0) {
    if (!x.xb_AppendBlank()) throw EXbError(EngineError(x), *this);
    FAppending = x.xb_RecNo();
  }
  if (!x.xb_PutRecord(raw.data())) throw EXbError(EngineError(x), *this);
  FLastPostedRecNo = x.xb_RecNo();
  FAppending = 0;
  // The record is stored now; a failed commit is reported once the dataset
  // has left insert state, so that no retry appends it a second time.
  std::string commitError;
  if (!FOptimisticCommit && !x.xb_Commit()) commitError = EngineError(x);
  x.xb_Unlock(0);
  FOldRec = 0;
  FState = dsBrowse;
  FModified = false;
  x.xb_Skip(-1);
  if (x.xb_Bof())
    x.xb_GoTop();
  else
    x.xb_Skip(1);
  if (x.xb_Eof()) {
    GoBottomAfterEnd();
  } else {
    ReadCurrentFromEngine();
    FEof = false;
    FBof = false;
  }
  if (!commitError.empty()) throw EXbError(commitError, *this);
}

void TCustomXbDataSet::Cancel() {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) return;
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  const bool inserting = FState == dsInsert;
  FState = dsBrowse;
  FModified = false;
  if (inserting && FAppending != 0) {
    // A blank record appended for this insert whose write failed: marked
    // deleted, since the record it stood for was never stored.
    x.xb_Go(FAppending);
    x.xb_Delete();
    FAppending = 0;
  }
  if (!inserting) x.xb_Go(FCurrent.RecNo);
  if (x.xb_Locked(x.xb_RecNo())) x.xb_Unlock(0);
  if (inserting) {
    const std::int32_t oldRec = FOldRec;
    FOldRec = 0;
    if (oldRec != 0) {
      x.xb_Go(oldRec);
      ReadCurrentFromEngine();
      FEof = false;
    } else {
      x.xb_GoTop();
      if (x.xb_Eof()) {
        ClearCurrent();
      } else {
        ReadCurrentFromEngine();
        FEof = false;
      }
    }
  } else {
    ReadCurrentFromEngine();
  }
}
