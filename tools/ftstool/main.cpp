// ftstool: full-text index files (".TS1") from the command line. Arguments
// and output are UTF-8; the index holds Windows-1252 bytes.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "IndexFile.h"
#include "fts32.h"
#include "fulltext/MakeIdxStr.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "xbe50.h"

namespace {

constexpr int kUsage = 1;
constexpr int kFailed = 2;

int Usage() {
  std::fputs(
      "usage: ftstool create FILE\n"
      "       ftstool add [--raw] FILE TEXT\n"
      "       ftstool replace [--raw] FILE RECNO TEXT\n"
      "       ftstool delete FILE RECNO | undelete FILE RECNO\n"
      "       ftstool dump FILE\n"
      "       ftstool search [--raw] FILE [--mode beg|end|and|one] QUERY\n"
      "       ftstool build TABLE EXPR FILE\n"
      "TEXT is indexed as the host indexes a label (upper case, umlauts spelt out,\n"
      "digit runs marked); --raw stores or searches it as given. In a QUERY, \"*\"\n"
      "is a wildcard.\n",
      stderr);
  return kUsage;
}

const char* Describe(int rc) {
  switch (rc) {
    case FTS_ERR_ARGUMENT: return "invalid argument";
    case FTS_ERR_NOT_FOUND: return "file not found";
    case FTS_ERR_IO: return "read or write failed";
    case FTS_ERR_CORRUPT: return "not an index file, or damaged";
    case FTS_ERR_LOCKED: return "in use by another program";
    case FTS_ERR_READONLY: return "opened read-only";
    case FTS_ERR_RECNO: return "record number out of range";
    case FTS_ERR_NO_HANDLES: return "too many open indexes";
    case FTS_ERR_MEMORY: return "out of memory";
    case FTS_ERR_HANDLE: return "index not open";
    default: return "internal error";
  }
}

int Fail(const std::string& what, int rc) {
  std::fprintf(stderr, "ftstool: %s: %s (%d)\n", what.c_str(), Describe(rc), rc);
  return kFailed;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "ftstool: %s\n", text.c_str());
  return kFailed;
}

bool ToAnsi(const std::string& utf8, std::string& ansi) {
  auto a = platform::Utf8ToWin1252(utf8);
  if (!a) {
    Fail("\"" + utf8 + "\" is not valid UTF-8 or has characters outside Windows-1252");
    return false;
  }
  ansi = *a;
  return true;
}

bool ParseRecNo(const std::string& s, int& out) {
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || v < 1 || v > 0x7FFFFFFF) return false;
  out = static_cast<int>(v);
  return true;
}

// Opens for writing, runs `change`, closes; the close makes it durable.
template <class F>
int Change(const std::string& file, F change) {
  const int h = FtsOpen(file.c_str(), 32, FTS_MODE_READWRITE);
  if (h < 0) return Fail(file, h);
  const int rc = change(h);
  const int closed = FtsClose(h);
  if (rc < 0) return Fail(file, rc);
  if (closed < 0) return Fail(file, closed);
  return 0;
}

int Dump(const std::string& file) {
  std::unique_ptr<fts::IndexFile> index;
  const int rc = fts::IndexFile::Open(file, 0, FTS_MODE_READONLY, index);
  if (rc < 0) return Fail(file, rc);
  const auto& e = index->AllEntries();
  std::string out;
  for (std::size_t i = 0; i < e.Count(); ++i) {
    out += std::to_string(i + 1);
    out += e.Deleted(i) ? "\t*\t" : "\t \t";
    out += platform::Win1252ToUtf8(e.Text(i));
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  index->Close();
  return std::fflush(stdout) == 0 ? 0 : kFailed;
}

int Search(const std::string& file, const std::string& mode, const std::string& query,
           bool raw) {
  int kind;
  if (mode == "beg") kind = FTS_VBEG;
  else if (mode == "end") kind = FTS_VEND;
  else if (mode == "and") kind = FTS_VAND;
  else if (mode == "one") kind = FTS_VONE;
  else return Usage();
  std::string ansi;
  if (!ToAnsi(query, ansi)) return kFailed;
  const std::string q = raw ? ansi : fulltext::MakeIdxStr(ansi, true);
  const int h = FtsOpen(file.c_str(), 0, FTS_MODE_READONLY);
  if (h < 0) return Fail(file, h);
  const int n = FtsVerify(h, q.c_str(), nullptr, kind);
  std::string out;
  for (int r; n > 0 && (r = FtsNextRec(h)) > 0;) out += std::to_string(r) + "\n";
  FtsClose(h);
  if (n < 0) return Fail(file, n);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

// Every record of the table in physical order, deleted ones too (entry n
// describes record n); entries of deleted records are marked deleted. The
// index is built beside FILE and copied over it only when complete.
int Build(const std::string& table, const std::string& expr, const std::string& file) {
  std::string ansiExpr, ansiTable;
  if (!ToAnsi(expr, ansiExpr)) return kFailed;
  xb_SetStringType(1);
  xb_SetDeleted(0);
  int area = 0;
  for (int16_t driver : {0, 2, 1, 3}) {
    area = xb_Use(table.c_str(), "", XB_MODE_READONLY, driver);
    if (area > 0) break;
  }
  if (area <= 0) return Fail(table + ": " + xb_LastError());
  xb_SetOrder(0);
  const std::string temp = platform::DirectoryPart(file) + "." +
                           platform::FileNamePart(file) + ".build";
  const int h = FtsCreate(temp.c_str(), 1024, xb_RecCount(), 0, 0);
  if (h < 0) {
    xb_Close();
    return Fail(temp, h);
  }
  int result = 0;
  std::int32_t expected = 1;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1), ++expected) {
    if (xb_RecNo() != expected) {
      result = Fail(table + ": record " + std::to_string(expected) + " was skipped");
      break;
    }
    const std::string before = xb_LastError();
    const char* value = xb_EvalString(ansiExpr.c_str());
    if ((!value || !*value) && *xb_LastError() && before != xb_LastError()) {
      result = Fail(table + ": " + expr + ": " + xb_LastError());
      break;
    }
    const int rc = FtsAdd(h, fulltext::MakeIdxStr(value ? value : "", false).c_str());
    if (rc < 0 || (xb_Deleted() && FtsDelete(h, rc) < 0)) {
      result = Fail(temp, rc < 0 ? rc : FTS_ERR_IO);
      break;
    }
  }
  xb_Close();
  const int closed = FtsClose(h);
  if (result == 0 && closed < 0) result = Fail(temp, closed);
  std::string error;
  if (result == 0 && !platform::CopyFileAtomic(temp, file, &error)) result = Fail(error);
  platform::RemoveFile(temp);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool raw = false;
  std::string mode = "and";
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--raw") {
      raw = true;
    } else if (args[i] == "--mode" && i + 1 < args.size()) {
      mode = args[++i];
    } else if (args[i].rfind("--mode=", 0) == 0) {
      mode = args[i].substr(7);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) return Usage();
  const std::string cmd = rest[0];
  const std::size_t n = rest.size();
  auto indexText = [&](const std::string& utf8, std::string& out) {
    std::string ansi;
    if (!ToAnsi(utf8, ansi)) return false;
    out = raw ? ansi : fulltext::MakeIdxStr(ansi, false);
    return true;
  };

  if (cmd == "create" && n == 2) {
    const int h = FtsCreate(rest[1].c_str(), 32, 0, 0, 0);
    if (h < 0) return Fail(rest[1], h);
    const int rc = FtsClose(h);
    return rc < 0 ? Fail(rest[1], rc) : 0;
  }
  if (cmd == "add" && n == 3) {
    std::string text;
    if (!indexText(rest[2], text)) return kFailed;
    return Change(rest[1], [&](int h) {
      const int rc = FtsAdd(h, text.c_str());
      if (rc > 0) std::printf("%d\n", rc);
      return rc;
    });
  }
  if (cmd == "replace" && n == 4) {
    int recNo;
    std::string text;
    if (!ParseRecNo(rest[2], recNo)) return Usage();
    if (!indexText(rest[3], text)) return kFailed;
    return Change(rest[1], [&](int h) { return FtsReplace(h, text.c_str(), recNo); });
  }
  if ((cmd == "delete" || cmd == "undelete") && n == 3) {
    int recNo;
    if (!ParseRecNo(rest[2], recNo)) return Usage();
    return Change(rest[1], [&](int h) {
      return cmd == "delete" ? FtsDelete(h, recNo) : FtsUnDelete(h, recNo);
    });
  }
  if (cmd == "dump" && n == 2) return Dump(rest[1]);
  if (cmd == "search" && n == 3) return Search(rest[1], mode, rest[2], raw);
  if (cmd == "build" && n == 4) return Build(rest[1], rest[2], rest[3]);
  return Usage();
}
