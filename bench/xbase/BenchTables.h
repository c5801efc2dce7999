#pragma once
// The tables the xBase benchmarks run on, shared by bench_xbase and
// xbe_opcount: 10 000 to 1 000 000 records with three CDX tags (a number,
// an upper-cased label and a composite key), built once per size in a
// temporary folder that goes at exit, and the records that appends and
// edits write.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ValueText.h"
#include "WorkArea.h"

namespace benchtables {

namespace fs = std::filesystem;

inline std::string Dir() {
  static const std::string dir = [] {
    const fs::path d = fs::temp_directory_path() / ("bench_xbase_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d.string();
  }();
  return dir;
}

struct Cleanup {
  // Making the folder's name first ends its life after this object's.
  Cleanup() { Dir(); }
  ~Cleanup() {
    std::error_code ec;
    fs::remove_all(Dir(), ec);
  }
};
inline Cleanup cleanup;

inline std::string Label(std::uint32_t i) {
  static const char* words[] = {"Kasse", "Bank", "Erl\xF6se", "Wareneingang", "Vorsteuer",
                                "Umsatzsteuer", "Zinsen", "Miete"};
  return std::string(words[i % 8]) + " " + std::to_string((i * 2654435761u) % 1000000u);
}

inline std::string MakeRecord(const xbe::DbfTable& t, std::uint32_t nr, const std::string& label) {
  std::string rec = t.BlankRecord();
  auto set = [&](const char* name, const std::string& text) {
    const auto& f = t.Fields()[static_cast<std::size_t>(t.FindField(name))];
    std::string bytes, error;
    if (xbe::FieldBytesFromText(f, text, bytes, &error))
      rec.replace(static_cast<std::size_t>(f.offset), bytes.size(), bytes);
  };
  set("KNT_NR", std::to_string(nr));
  set("BEZ", label.substr(0, 40));
  set("TYP", std::string(1, static_cast<char>('A' + nr % 5)));
  set("SALDO", std::to_string(nr % 10000) + ".50");
  set("AB", "20200701");
  set("AKTIV", nr % 3 ? "T" : "F");
  return rec;
}

// Records with the account numbers and labels of `first`, `first + 1`, ...
// (numbers scattered over the whole key range, as in the built tables).
inline std::vector<std::string> Records(const xbe::DbfTable& t, std::uint32_t first, std::size_t count) {
  std::vector<std::string> recs;
  recs.reserve(count);
  for (std::uint32_t i = first; recs.size() < count; ++i)
    recs.push_back(MakeRecord(t, (i * 7919u) % 99999989u, Label(i)));
  return recs;
}
inline constexpr std::size_t kPrepared = 1 << 16;

// The path of a built table of `n` records (copied fresh when `fresh`).
inline std::string Table(std::uint32_t n, bool fresh) {
  static std::map<std::uint32_t, std::string> built;
  auto it = built.find(n);
  if (it == built.end()) {
    const std::string path = Dir() + "/t" + std::to_string(n) + ".dbf";
    std::vector<xbe::FieldSpec> fields;
    std::string error;
    xbe::ParseFieldSpecs("KNT_NR:N:8:0;BEZ:C:40;TYP:C:1;SALDO:N:14:2;AB:D:8;AKTIV:L:1", fields,
                         &error);
    if (!xbe::CreateTable(path, fields, xbe::Driver::Fox, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    {
      auto wa = xbe::WorkArea::Open(path, "", xbe::OpenMode::Exclusive, xbe::Driver::Fox, &error);
      for (std::uint32_t i = 1; i <= n; ++i)
        wa->AppendRecord(MakeRecord(wa->Table(), (i * 7919u) % 99999989u, Label(i)), &error);
      if (!wa->CreateTag("KNT_NR", "KNT_NR", "", 0, &error) ||
          !wa->CreateTag("BEZ", "UPPER(BEZ)", "", 0, &error) ||
          !wa->CreateTag("TYPNR", "TYP + STR(KNT_NR, 8)", "", 0, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
      }
      wa->Close(&error);
    }
    it = built.emplace(n, path).first;
  }
  if (!fresh) return it->second;
  const std::string copy = Dir() + "/work.dbf";
  for (const char* ext : {".dbf", ".cdx"}) {
    const std::string from = it->second.substr(0, it->second.size() - 4) + ext;
    fs::copy_file(from, Dir() + "/work" + ext, fs::copy_options::overwrite_existing);
  }
  return copy;
}

inline std::unique_ptr<xbe::WorkArea> Open(const std::string& path) {
  std::string error;
  auto wa = xbe::WorkArea::Open(path, "", xbe::OpenMode::Exclusive, xbe::Driver::Fox, &error);
  if (!wa) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return wa;
}

// Reads every field of the current record as text, as a caller showing it
// would; the total length, so that nothing is optimised away.
inline std::size_t ReadEveryField(xbe::WorkArea& wa) {
  const std::string& rec = wa.Record();
  std::size_t sum = 0;
  for (const auto& f : wa.Table().Fields()) {
    std::string_view text;
    xbe::FieldTextView(f, std::string_view(rec).substr(static_cast<std::size_t>(f.offset),
                                                       static_cast<std::size_t>(f.width)),
                       text);
    sum += text.size();
  }
  return sum;
}

// Walks every tag once, so that the index's nodes and the table's blocks
// are cached before anything is measured or counted.
inline void ReadEveryTag(xbe::WorkArea& wa) {
  std::string error;
  for (int o = 1; o <= wa.OrderCount(); ++o) {
    wa.SetOrder(o);
    for (wa.GoTop(&error); !wa.Eof(); wa.Skip(1, &error)) {
    }
  }
  wa.SetOrder(0);
}

}  // namespace benchtables
