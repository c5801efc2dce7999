// xbtool: tables and indexes from the command line, over the engine library.
// Text on stdin/stdout/stderr and in scripts is UTF-8; tables hold
// Windows-1252, converted at this boundary.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ValueText.h"
#include "WorkArea.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/RandomFile.h"

namespace {

using xbe::WorkArea;

const char* kUsage =
    "usage:\n"
    "  xbtool create TABLE NAME:TYPE:WIDTH[:DEC]... [--ntx]\n"
    "  xbtool index TABLE TAG EXPR [--for EXPR] [--descending] [--unique]\n"
    "  xbtool dump TABLE [--order TAG|N]\n"
    "  xbtool seek TABLE TAG KEY\n"
    "  xbtool apply TABLE SCRIPT\n"
    "  xbtool check TABLE\n";

int Fail(const std::string& text) {
  std::cerr << "xbtool: " << platform::Win1252ToUtf8(text) << "\n";
  return 2;
}

// Arguments arrive as UTF-8; the engine wants Windows-1252.
bool ToAnsi(const std::string& utf8, std::string& out) {
  auto r = platform::Utf8ToWin1252(utf8);
  if (!r) return false;
  out = *r;
  return true;
}

std::unique_ptr<WorkArea> OpenTable(const std::string& path, xbe::OpenMode mode,
                                    std::string* error) {
  // File names are passed to the file system as given (UTF-8 on Linux).
  return WorkArea::Open(path, "", mode, xbe::Driver::Auto, error);
}

int Create(const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail(std::string("create needs a table and fields\n") + kUsage);
  bool ntx = false;
  std::vector<xbe::FieldSpec> fields;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--ntx") {
      ntx = true;
      continue;
    }
    std::vector<xbe::FieldSpec> one;
    std::string error;
    if (!xbe::ParseFieldSpecs(args[i], one, &error)) return Fail(error);
    fields.insert(fields.end(), one.begin(), one.end());
  }
  std::string error;
  if (!xbe::CreateTable(args[0], fields, ntx ? xbe::Driver::Ntx : xbe::Driver::Fox, &error))
    return Fail(error);
  return 0;
}

int Index(const std::vector<std::string>& args) {
  if (args.size() < 3) return Fail(std::string("index needs TABLE TAG EXPR\n") + kUsage);
  std::string forExpr;
  unsigned flags = 0;
  for (std::size_t i = 3; i < args.size(); ++i) {
    if (args[i] == "--for" && i + 1 < args.size()) {
      forExpr = args[++i];
    } else if (args[i] == "--descending") {
      flags |= xbe::kTagDescending;
    } else if (args[i] == "--unique") {
      flags |= xbe::kTagUnique;
    } else {
      return Fail("unknown option " + args[i]);
    }
  }
  std::string tag, key, cond, error;
  if (!ToAnsi(args[1], tag) || !ToAnsi(args[2], key) || !ToAnsi(forExpr, cond))
    return Fail("the arguments hold characters that Windows-1252 cannot represent");
  auto wa = OpenTable(args[0], xbe::OpenMode::Exclusive, &error);
  if (!wa) return Fail(error);
  if (!wa->CreateTag(tag, key, cond, flags, &error)) return Fail(error);
  if (!wa->Close(&error)) return Fail(error);
  return 0;
}

int SelectOrder(WorkArea& wa, const std::string& name) {
  std::string n;
  if (!ToAnsi(name, n)) return 0;
  return wa.FindOrder(n);
}

int Dump(const std::vector<std::string>& args) {
  if (args.empty()) return Fail(std::string("dump needs a table\n") + kUsage);
  std::string order;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--order" && i + 1 < args.size())
      order = args[++i];
    else
      return Fail("unknown option " + args[i]);
  }
  std::string error;
  auto wa = OpenTable(args[0], xbe::OpenMode::ReadOnly, &error);
  if (!wa) return Fail(error);
  if (!order.empty()) {
    const int n = SelectOrder(*wa, order);
    if (n == 0) return Fail("the table has no order " + order);
    wa->SetOrder(n);
  }
  if (!wa->GoTop(&error)) return Fail(error);
  std::string out;
  while (!wa->Eof()) {
    std::string line;
    if (!xbe::RecordLine(*wa, line, &error)) return Fail(error);
    out += platform::Win1252ToUtf8(line);
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    if (!wa->Skip(1, &error)) return Fail(error);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int Seek(const std::vector<std::string>& args) {
  if (args.size() != 3) return Fail(std::string("seek needs TABLE TAG KEY\n") + kUsage);
  std::string error, key;
  auto wa = OpenTable(args[0], xbe::OpenMode::ReadOnly, &error);
  if (!wa) return Fail(error);
  const int n = SelectOrder(*wa, args[1]);
  if (n == 0) return Fail("the table has no order " + args[1]);
  wa->SetOrder(n);
  if (!ToAnsi(args[2], key)) return Fail("the key holds characters that Windows-1252 cannot represent");
  bool found = false;
  if (!wa->Seek(key, found, &error)) return Fail(error);
  if (!found) {
    std::cout << "not found\n";
    return 1;
  }
  std::cout << wa->RecNo() << "\n";
  return 0;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t t = line.find('\t', pos);
    parts.push_back(line.substr(pos, t == std::string::npos ? std::string::npos : t - pos));
    if (t == std::string::npos) break;
    pos = t + 1;
  }
  return parts;
}

// Applies FIELD=VALUE assignments to `record`; memo values are collected for
// writing once the record exists.
bool Assign(WorkArea& wa, const std::vector<std::string>& parts, std::size_t from,
            std::string& record, std::vector<std::pair<int, std::string>>& memos,
            std::string* error) {
  const xbe::DbfTable& t = wa.Table();
  for (std::size_t i = from; i < parts.size(); ++i) {
    const std::size_t eq = parts[i].find('=');
    if (eq == std::string::npos) {
      *error = "'" + parts[i] + "' is not FIELD=VALUE";
      return false;
    }
    const std::string name = parts[i].substr(0, eq);
    const int f = t.FindField(name);
    if (f < 0) {
      *error = "the table has no field " + name;
      return false;
    }
    const xbe::FieldInfo& fi = t.Fields()[static_cast<std::size_t>(f)];
    if (xbe::IsMemoField(t, fi)) {
      memos.emplace_back(f, xbe::UnescapeMemo(parts[i].substr(eq + 1)));
      continue;
    }
    std::string bytes;
    if (!xbe::FieldBytesFromText(fi, parts[i].substr(eq + 1), bytes, error)) return false;
    record.replace(static_cast<std::size_t>(fi.offset), bytes.size(), bytes);
  }
  return true;
}

bool ApplyLine(WorkArea& wa, const std::string& line, std::string* error) {
  const std::vector<std::string> parts = SplitTabs(line);
  const std::string& verb = parts[0];
  std::vector<std::pair<int, std::string>> memos;
  auto recnoArg = [&](std::uint32_t& r) {
    if (parts.size() < 2) {
      *error = verb + " needs a record number";
      return false;
    }
    char* end = nullptr;
    const unsigned long v = std::strtoul(parts[1].c_str(), &end, 10);
    if (parts[1].empty() || *end || v == 0 || v > 0xFFFFFFFFul) {
      *error = "'" + parts[1] + "' is not a record number";
      return false;
    }
    r = static_cast<std::uint32_t>(v);
    return wa.Go(r, error);
  };
  if (verb == "append") {
    std::string record = wa.Table().BlankRecord();
    if (!Assign(wa, parts, 1, record, memos, error)) return false;
    if (!wa.AppendRecord(record, error)) return false;
  } else if (verb == "edit") {
    std::uint32_t r = 0;
    if (!recnoArg(r)) return false;
    std::string record = wa.Record();
    if (!Assign(wa, parts, 2, record, memos, error)) return false;
    if (!wa.PutRecord(record, error)) return false;
  } else if (verb == "delete" || verb == "recall") {
    std::uint32_t r = 0;
    if (!recnoArg(r)) return false;
    if (parts.size() > 2) {
      *error = verb + " takes only a record number";
      return false;
    }
    if (!wa.SetDeleted(verb == "delete", error)) return false;
  } else {
    *error = "unknown command '" + verb + "'";
    return false;
  }
  for (auto& [field, text] : memos)
    if (!wa.MemoWrite(field, text, error)) return false;
  return true;
}

int Apply(const std::vector<std::string>& args) {
  if (args.size() != 2) return Fail(std::string("apply needs TABLE SCRIPT\n") + kUsage);
  std::string error;
  // The script is read a block at a time: it may be far larger than the
  // memory the table needs.
  platform::RandomFile script;
  if (!script.Open(args[1], false, &error)) return Fail(error);
  const std::int64_t size = script.Size();
  if (size < 0) return Fail(args[1] + ": cannot determine the file size");
  auto wa = OpenTable(args[0], xbe::OpenMode::Exclusive, &error);
  if (!wa) return Fail(error);
  auto stop = [&](const std::string& why) {
    std::string ignored;
    wa->Close(&ignored);
    return Fail(why);
  };
  std::vector<char> block(std::size_t{1} << 16);
  std::string line, ansi;
  int lineNo = 0;
  std::uint64_t at = 0;
  const auto end = static_cast<std::uint64_t>(size);
  while (at < end || !line.empty()) {
    std::size_t got = 0;
    if (at < end) {
      got = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), end - at));
      if (!script.ReadAt(at, block.data(), got, &error)) return stop(error);
      at += got;
    }
    std::size_t from = 0;
    for (;;) {
      const char* nl = static_cast<const char*>(std::memchr(block.data() + from, '\n', got - from));
      const bool last = !nl && at >= end;
      if (!nl && !last) {
        line.append(block.data() + from, got - from);
        break;
      }
      const std::size_t upto = nl ? static_cast<std::size_t>(nl - block.data()) : got;
      line.append(block.data() + from, upto - from);
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        if (!ToAnsi(line, ansi))
          return stop("line " + std::to_string(lineNo) +
                      ": characters that Windows-1252 cannot represent");
        if (!ApplyLine(*wa, ansi, &error)) return stop("line " + std::to_string(lineNo) + ": " + error);
      }
      line.clear();
      if (!nl) break;
      from = upto + 1;
    }
    if (at >= end) break;
  }
  if (!wa->Close(&error)) return Fail(error);
  return 0;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail(std::string("check needs a table\n") + kUsage);
  std::string error;
  auto wa = OpenTable(args[0], xbe::OpenMode::ReadOnly, &error);
  if (!wa) {
    std::cout << platform::Win1252ToUtf8(error) << "\n";
    return 1;
  }
  std::string report;
  if (!wa->CheckIndexes(&report)) {
    std::cout << platform::Win1252ToUtf8(report.empty() ? "the index does not match the table"
                                                        : report);
    if (report.empty() || report.back() != '\n') std::cout << "\n";
    return 1;
  }
  std::cout << "OK\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string cmd = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (cmd == "create") return Create(args);
    if (cmd == "index") return Index(args);
    if (cmd == "dump") return Dump(args);
    if (cmd == "seek") return Seek(args);
    if (cmd == "apply") return Apply(args);
    if (cmd == "check") return Check(args);
  } catch (const std::exception& ex) {
    return Fail(std::string("internal error: ") + ex.what());
  }
  std::cerr << kUsage;
  return 2;
}
