// The C entries: one process-wide set of work areas with one current work
// area. Each entry catches every exception at its boundary and turns it into
// a failure result with the text in xb_LastError().
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Dbf.h"
#include "Memo.h"
#include "WorkArea.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "xbe50.h"

namespace {

using xbe::WorkArea;

struct Engine {
  std::vector<std::unique_ptr<WorkArea>> areas;  // work area n at index n-1
  int current = 0;
  std::string lastError;
  std::string text;  // the buffer behind returned strings
  int16_t epoch = 1900;
  bool hideDeleted = false;
  int16_t turboRead = 0;
  int16_t stringType = 0;
};

Engine& E() {
  static Engine engine;
  return engine;
}

void SetError(std::string text) { E().lastError = std::move(text); }

const char* Text(std::string s) {
  E().text = std::move(s);
  return E().text.c_str();
}

std::string Arg(const char* s) { return s ? std::string(s) : std::string(); }

WorkArea* Current() {
  Engine& e = E();
  if (e.current < 1 || e.current > static_cast<int>(e.areas.size())) return nullptr;
  return e.areas[static_cast<std::size_t>(e.current - 1)].get();
}

WorkArea* Need() {
  WorkArea* wa = Current();
  if (!wa) SetError("no work area is selected");
  return wa;
}

int FieldIndex(WorkArea* wa, const char* name) {
  const int i = wa->Table().FindField(Arg(name));
  if (i < 0) SetError("field " + Arg(name) + " does not exist");
  return i;
}

// Runs `body`; an exception becomes a failure with its text.
template <class R, class F>
R Guard(R failure, F&& body) {
  try {
    return body();
  } catch (const std::exception& ex) {
    SetError(std::string("internal error: ") + ex.what());
  } catch (...) {
    SetError("internal error");
  }
  return failure;
}

int16_t Ok(bool ok, const std::string& error) {
  if (!ok) SetError(error);
  return ok ? 1 : 0;
}

bool ParseFieldList(const std::string& text, std::vector<xbe::FieldSpec>& out,
                    std::string* error) {
  out.clear();
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) {
      if (end >= text.size()) break;
      continue;
    }
    std::vector<std::string> parts;
    std::size_t p = 0;
    for (;;) {
      const std::size_t c = item.find(':', p);
      parts.push_back(item.substr(p, c == std::string::npos ? std::string::npos : c - p));
      if (c == std::string::npos) break;
      p = c + 1;
    }
    if (parts.size() < 2 || parts.size() > 4 || parts[1].size() != 1) {
      if (error) *error = "field definition '" + item + "' is not NAME:TYPE:WIDTH[:DEC]";
      return false;
    }
    xbe::FieldSpec f;
    f.name = parts[0];
    f.type = parts[1][0];
    try {
      if (parts.size() > 2 && !parts[2].empty()) f.width = std::stoi(parts[2]);
      if (parts.size() > 3 && !parts[3].empty()) f.decimals = std::stoi(parts[3]);
    } catch (const std::exception&) {
      if (error) *error = "field definition '" + item + "' has a width that is not a number";
      return false;
    }
    out.push_back(f);
    if (end >= text.size()) break;
  }
  if (out.empty()) {
    if (error) *error = "no fields given";
    return false;
  }
  return true;
}

}  // namespace

namespace xbe {

// Creates a table (and its memo file when it has memo fields) for the given
// driver. Shared by xb_Create and the tools.
bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields, Driver driver,
                 std::string* error) {
  if (platform::FileExists(path)) {
    if (error) *error = path + ": the file exists already";
    return false;
  }
  bool memo = false;
  for (const FieldSpec& f : fields)
    if (f.type == 'M' || f.type == 'm') memo = true;
  std::uint8_t version = 0x03;
  MemoKind kind = MemoKind::None;
  std::string ext;
  if (driver == Driver::Nsx) {
    if (error) *error = "NSX tables cannot be created";
    return false;
  }
  if (memo) {
    if (driver == Driver::Ntx) {
      version = 0x83;
      kind = MemoKind::Dbt3;
      ext = ".dbt";
    } else {
      version = 0xF5;
      kind = MemoKind::Fpt;
      ext = ".fpt";
    }
  }
  // The memo file first: a table whose memo file is missing cannot be opened.
  std::string memoPath;
  if (kind != MemoKind::None) {
    const std::string ext0 = platform::ExtensionPart(path);
    const std::string base = path.substr(0, path.size() - ext0.size());
    memoPath = base + (ext0.size() == 4 && ext0[1] == 'D' ? platform::AsciiUpper(ext) : ext);
    std::string baseName = platform::FileNamePart(base);
    if (!MemoFile::Create(memoPath, kind, platform::AsciiUpper(baseName), error)) return false;
  }
  if (!DbfTable::Create(path, version, fields, error)) {
    if (!memoPath.empty()) platform::RemoveFile(memoPath);
    return false;
  }
  return true;
}

bool ParseFieldSpecs(const std::string& text, std::vector<FieldSpec>& out, std::string* error) {
  return ParseFieldList(text, out, error);
}

}  // namespace xbe

extern "C" {

int16_t xb_SetStringType(int16_t type) {
  const int16_t old = E().stringType;
  E().stringType = type;
  return old;
}

const char* xb_LastError(void) { return E().lastError.c_str(); }

const char* xb_Version(void) { return Text("xbe 5.0"); }

// Only machine order is offered; the other collations are accepted and ignored.
int16_t xb_SetSystemCollation(void) { return 1; }
int16_t xb_SetMachineCollation(void) { return 1; }
int16_t xb_AddDudenCollation(void) { return 1; }
int16_t xb_AddEtecCollation(void) { return 1; }
int32_t xb_GetSystemLocale(void) { return 0x0407; }
const char* xb_ViewSystemCharOrder(void) {
  return Guard<const char*>("", [] {
    std::string order(255, ' ');
    for (int i = 1; i < 256; ++i) order[static_cast<std::size_t>(i - 1)] = static_cast<char>(i);
    return Text(order);
  });
}

int16_t xb_Use(const char* path, const char* alias, int16_t mode, int16_t driver) {
  return Guard<int16_t>(0, [&]() -> int16_t {
    Engine& e = E();
    if (mode < 0 || mode > 2) {
      SetError("open mode must be 0, 1 or 2");
      return 0;
    }
    std::string a = platform::AsciiUpper(Arg(alias));
    auto inUse = [&](const std::string& name) {
      for (auto& wa : e.areas)
        if (wa && wa->Alias() == name) return true;
      return false;
    };
    if (!a.empty() && inUse(a)) {
      SetError("alias " + a + " is already in use");
      return 0;
    }
    if (a.empty()) {
      const std::string base = xbe::AliasFromPath(Arg(path));
      a = base;
      for (int k = 1; inUse(a); ++k) {
        const std::string digits = std::to_string(k);
        a = base.substr(0, 8 - digits.size()) + digits;
      }
    }
    std::string error;
    auto wa = WorkArea::Open(Arg(path), a, static_cast<xbe::OpenMode>(mode),
                             driver >= 0 && driver <= 3 ? static_cast<xbe::Driver>(driver)
                                                        : xbe::Driver::Auto,
                             &error);
    if (!wa) {
      SetError(error);
      return 0;
    }
    wa->SetDeletedFilter(e.hideDeleted);
    std::size_t slot = 0;
    while (slot < e.areas.size() && e.areas[slot]) ++slot;
    if (slot >= 32767) {
      SetError("too many work areas");
      return 0;
    }
    if (slot == e.areas.size()) e.areas.emplace_back();
    e.areas[slot] = std::move(wa);
    e.current = static_cast<int>(slot + 1);
    return static_cast<int16_t>(e.current);
  });
}

int16_t xb_Select(int16_t workArea) {
  Engine& e = E();
  if (workArea < 1 || workArea > static_cast<int>(e.areas.size()) ||
      !e.areas[static_cast<std::size_t>(workArea - 1)]) {
    SetError("work area " + std::to_string(workArea) + " is not in use");
    return 0;
  }
  e.current = workArea;
  return workArea;
}

int16_t xb_WorkArea(const char* alias) {
  const std::string a = platform::AsciiUpper(Arg(alias));
  Engine& e = E();
  for (std::size_t i = 0; i < e.areas.size(); ++i)
    if (e.areas[i] && e.areas[i]->Alias() == a) return static_cast<int16_t>(i + 1);
  return 0;
}

int16_t xb_Close(void) {
  return Guard<int16_t>(0, []() -> int16_t {
    Engine& e = E();
    WorkArea* wa = Need();
    if (!wa) return 0;
    std::string error;
    const bool ok = wa->Close(&error);
    e.areas[static_cast<std::size_t>(e.current - 1)].reset();
    while (!e.areas.empty() && !e.areas.back()) e.areas.pop_back();
    return Ok(ok, error);
  });
}

int16_t xb_CloseAll(void) {
  return Guard<int16_t>(0, []() -> int16_t {
    Engine& e = E();
    bool ok = true;
    std::string first;
    for (auto& wa : e.areas) {
      if (!wa) continue;
      std::string error;
      if (!wa->Close(&error) && ok) {
        ok = false;
        first = error;
      }
      wa.reset();
    }
    e.areas.clear();
    e.current = 0;
    return Ok(ok, first);
  });
}

int16_t xb_SetEpoch(int16_t year) {
  const int16_t old = E().epoch;
  E().epoch = year;
  return old;
}

int16_t xb_SetDeleted(int16_t on) {
  Engine& e = E();
  const int16_t old = e.hideDeleted ? 1 : 0;
  e.hideDeleted = on != 0;
  for (auto& wa : e.areas)
    if (wa) wa->SetDeletedFilter(e.hideDeleted);
  return old;
}

int16_t xb_SetTurboRead(int16_t on) {
  const int16_t old = E().turboRead;
  E().turboRead = on;
  return old;
}

int16_t xb_IsEncrypted(int16_t workArea) {
  Engine& e = E();
  const int n = workArea == 0 ? e.current : workArea;
  if (n < 1 || n > static_cast<int>(e.areas.size()) || !e.areas[static_cast<std::size_t>(n - 1)])
    return 0;
  return e.areas[static_cast<std::size_t>(n - 1)]->Table().Encrypted() ? 1 : 0;
}

int16_t xb_FieldCount(void) {
  WorkArea* wa = Need();
  return wa ? static_cast<int16_t>(wa->Table().Fields().size()) : 0;
}

const char* xb_FieldName(int16_t field) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    if (!wa) return "";
    if (field < 1 || field > static_cast<int>(wa->Table().Fields().size())) {
      SetError("field number " + std::to_string(field) + " does not exist");
      return "";
    }
    return Text(wa->Table().Fields()[static_cast<std::size_t>(field - 1)].name);
  });
}

const char* xb_FieldType(const char* name) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    if (!wa) return "";
    const int i = FieldIndex(wa, name);
    if (i < 0) return "";
    return Text(std::string(1, wa->Table().Fields()[static_cast<std::size_t>(i)].type));
  });
}

int16_t xb_FieldOffset(const char* name) {
  WorkArea* wa = Need();
  if (!wa) return 0;
  const int i = FieldIndex(wa, name);
  return i < 0 ? 0 : static_cast<int16_t>(wa->Table().Fields()[static_cast<std::size_t>(i)].offset + 1);
}

int16_t xb_FieldWidth(const char* name) {
  WorkArea* wa = Need();
  if (!wa) return 0;
  const int i = FieldIndex(wa, name);
  return i < 0 ? 0 : static_cast<int16_t>(wa->Table().Fields()[static_cast<std::size_t>(i)].width);
}

int16_t xb_FieldDecimals(const char* name) {
  WorkArea* wa = Need();
  if (!wa) return 0;
  const int i = FieldIndex(wa, name);
  return i < 0 ? 0
               : static_cast<int16_t>(wa->Table().Fields()[static_cast<std::size_t>(i)].decimals);
}

int32_t xb_RecSize(void) {
  WorkArea* wa = Need();
  return wa ? wa->Table().RecordLength() : 0;
}

int32_t xb_SysProp(int16_t prop, int32_t arg) {
  (void)arg;
  WorkArea* wa = Need();
  if (!wa) return 0;
  switch (prop) {
    case XB_PROP_ORDER_COUNT:
      return wa->OrderCount();
    case XB_PROP_DESCENDING: {
      xbe::IndexTag* t = wa->OrderTag(wa->CurrentOrder());
      return t && t->Descending() ? 1 : 0;
    }
    default:
      SetError("unknown property " + std::to_string(prop));
      return 0;
  }
}

int16_t xb_SetOrder(int16_t order) {
  return Guard<int16_t>(0, [&]() -> int16_t {
    WorkArea* wa = Need();
    if (!wa) return 0;
    if (!wa->SetOrder(order)) {
      SetError("order " + std::to_string(order) + " does not exist");
      return 0;
    }
    return 1;
  });
}

int16_t xb_IndexOrd(void) {
  WorkArea* wa = Need();
  return wa ? static_cast<int16_t>(wa->CurrentOrder()) : 0;
}

const char* xb_TagName(int16_t order) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    xbe::IndexTag* t = wa ? wa->OrderTag(order) : nullptr;
    return t ? Text(t->Name()) : "";
  });
}

const char* xb_IndexName(int16_t order) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    xbe::IndexTag* t = wa ? wa->OrderTag(order) : nullptr;
    return t ? Text(platform::FileNamePart(wa->ProductionIndexPath())) : "";
  });
}

const char* xb_IndexKey(int16_t order) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    xbe::IndexTag* t = wa ? wa->OrderTag(order) : nullptr;
    return t ? Text(t->KeyExpression()) : "";
  });
}

const char* xb_IndexFor(int16_t order) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    xbe::IndexTag* t = wa ? wa->OrderTag(order) : nullptr;
    return t ? Text(t->ForExpression()) : "";
  });
}

int16_t xb_IndexType(int16_t order) {
  WorkArea* wa = Need();
  xbe::IndexTag* t = wa ? wa->OrderTag(order) : nullptr;
  if (!t) return XB_INDEX_NONE;
  if (t->Candidate()) return XB_INDEX_CANDIDATE;
  return t->Unique() ? XB_INDEX_UNIQUE : XB_INDEX_NORMAL;
}

#define XBE_NAV(body)                                   \
  return Guard<int16_t>(0, [&]() -> int16_t {           \
    WorkArea* wa = Need();                              \
    if (!wa) return 0;                                  \
    std::string error;                                  \
    return Ok(body, error);                             \
  })

int16_t xb_GoTop(void) { XBE_NAV(wa->GoTop(&error)); }
int16_t xb_GoBottom(void) { XBE_NAV(wa->GoBottom(&error)); }
int16_t xb_Skip(int32_t count) { XBE_NAV(wa->Skip(count, &error)); }
int16_t xb_Go(int32_t recNo) {
  XBE_NAV(recNo > 0 && wa->Go(static_cast<std::uint32_t>(recNo), &error));
}

int32_t xb_RecNo(void) {
  WorkArea* wa = Current();
  return wa ? static_cast<int32_t>(wa->RecNo()) : 0;
}
int16_t xb_Bof(void) {
  WorkArea* wa = Current();
  return wa && wa->Bof() ? 1 : 0;
}
int16_t xb_Eof(void) {
  WorkArea* wa = Current();
  return !wa || wa->Eof() ? 1 : 0;
}
int32_t xb_RecCount(void) {
  return Guard<int32_t>(0, []() -> int32_t {
    WorkArea* wa = Need();
    return wa ? static_cast<int32_t>(wa->RecCount()) : 0;
  });
}

int16_t xb_Seek(const char* key) {
  return Guard<int16_t>(0, [&]() -> int16_t {
    WorkArea* wa = Need();
    if (!wa) return 0;
    std::string error;
    bool found = false;
    if (!wa->Seek(Arg(key), found, &error)) {
      SetError(error);
      return 0;
    }
    return found ? 1 : 0;
  });
}

int16_t xb_GetRecord(char* buffer) {
  WorkArea* wa = Need();
  if (!wa || !buffer) return 0;
  std::memcpy(buffer, wa->Record().data(), wa->Record().size());
  return 1;
}

int16_t xb_PutRecord(const char* buffer) {
  return Guard<int16_t>(0, [&]() -> int16_t {
    WorkArea* wa = Need();
    if (!wa) return 0;
    if (!buffer) {
      SetError("no record given");
      return 0;
    }
    std::string error;
    return Ok(wa->PutRecord(std::string_view(buffer, wa->Record().size()), &error), error);
  });
}

int16_t xb_AppendBlank(void) { XBE_NAV(wa->AppendBlank(&error)); }

int16_t xb_Deleted(void) {
  WorkArea* wa = Current();
  return wa && wa->Deleted() ? 1 : 0;
}

int16_t xb_Delete(void) { XBE_NAV(wa->SetDeleted(true, &error)); }
int16_t xb_Recall(void) { XBE_NAV(wa->SetDeleted(false, &error)); }

int32_t xb_MemoLen(const char* field) {
  return Guard<int32_t>(-1, [&]() -> int32_t {
    WorkArea* wa = Need();
    if (!wa) return -1;
    const int i = FieldIndex(wa, field);
    if (i < 0) return -1;
    std::string data, error;
    if (!wa->MemoRead(i, data, &error)) {
      SetError(error);
      return -1;
    }
    return static_cast<int32_t>(data.size());
  });
}

int32_t xb_MemoRead(const char* field, char* buffer, int32_t size) {
  return Guard<int32_t>(-1, [&]() -> int32_t {
    WorkArea* wa = Need();
    if (!wa) return -1;
    const int i = FieldIndex(wa, field);
    if (i < 0) return -1;
    std::string data, error;
    if (!wa->MemoRead(i, data, &error)) {
      SetError(error);
      return -1;
    }
    const std::size_t n = std::min<std::size_t>(data.size(), size > 0 ? static_cast<std::size_t>(size) : 0);
    if (n > 0 && buffer) std::memcpy(buffer, data.data(), n);
    return static_cast<int32_t>(n);
  });
}

int32_t xb_MemoWrite(const char* field, const char* data, int32_t len) {
  return Guard<int32_t>(-1, [&]() -> int32_t {
    WorkArea* wa = Need();
    if (!wa) return -1;
    const int i = FieldIndex(wa, field);
    if (i < 0) return -1;
    if (len < 0 || (len > 0 && !data)) {
      SetError("invalid memo data");
      return -1;
    }
    std::string error;
    if (!wa->MemoWrite(i, std::string_view(data ? data : "", static_cast<std::size_t>(len)),
                       &error)) {
      SetError(error);
      return -1;
    }
    return len;
  });
}

int16_t xb_Rlock(int32_t recNo) {
  XBE_NAV(wa->Rlock(static_cast<std::uint32_t>(recNo == 0 ? static_cast<int32_t>(wa->RecNo()) : recNo), &error));
}

int16_t xb_Locked(int32_t recNo) {
  WorkArea* wa = Current();
  return wa && recNo > 0 && wa->Locked(static_cast<std::uint32_t>(recNo)) ? 1 : 0;
}

int16_t xb_Unlock(int32_t recNo) {
  WorkArea* wa = Need();
  if (!wa || recNo < 0) return 0;
  return wa->Unlock(static_cast<std::uint32_t>(recNo)) ? 1 : 0;
}

int16_t xb_Commit(void) { XBE_NAV(wa->Commit(&error)); }

const char* xb_EvalString(const char* expr) {
  return Guard<const char*>("", [&]() -> const char* {
    WorkArea* wa = Need();
    if (!wa) return "";
    std::string out, error;
    if (!wa->EvalString(Arg(expr), out, &error)) {
      SetError(error);
      return "";
    }
    return Text(out);
  });
}

int16_t xb_Create(const char* path, const char* fields, int16_t driver) {
  return Guard<int16_t>(0, [&]() -> int16_t {
    std::vector<xbe::FieldSpec> fieldDefs;
    std::string error;
    if (!xbe::ParseFieldSpecs(Arg(fields), fieldDefs, &error)) {
      SetError(error);
      return 0;
    }
    const auto d = driver == XB_DRIVER_NTX ? xbe::Driver::Ntx
                   : driver == XB_DRIVER_NSX ? xbe::Driver::Nsx
                                             : xbe::Driver::Fox;
    return Ok(xbe::CreateTable(Arg(path), fieldDefs, d, &error), error);
  });
}

int16_t xb_CreateTag(const char* tag, const char* keyExpr, const char* forExpr, int16_t flags) {
  XBE_NAV(wa->CreateTag(Arg(tag), Arg(keyExpr), Arg(forExpr), static_cast<unsigned>(flags), &error));
}

int16_t xb_CheckIndexes(void) {
  return Guard<int16_t>(0, []() -> int16_t {
    WorkArea* wa = Need();
    if (!wa) return 0;
    std::string report;
    if (!wa->CheckIndexes(&report)) {
      SetError(report.empty() ? "the index does not match the table" : report);
      return 0;
    }
    return 1;
  });
}

}  // extern "C"
