#pragma once
// Shared by the Cdx*.cpp tests: an in-memory table (layout + records) that
// serves as RecordAccess and TableScan, a minimal DBF loader for the
// fixtures, fixture manifests, and temporary directories.
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Index.h"
#include "platform/Files.h"

namespace cdxtest {

struct Field {
  std::string name;
  char type = 'C';
  int width = 0, decimals = 0, offset = 0;
};

// Records are raw DBF images: deletion byte, then the fields.
class MemTable : public xbe::RecordAccess, public xbe::TableScan {
 public:
  void AddField(const std::string& name, char type, int width, int decimals = 0) {
    fields_.push_back({name, type, width, decimals, recordLength_});
    recordLength_ += width;
  }
  int RecordLength() const { return recordLength_; }
  // Appends a blank record and returns its number.
  std::uint32_t Append() {
    records_.emplace_back(static_cast<std::size_t>(recordLength_), ' ');
    return static_cast<std::uint32_t>(records_.size());
  }
  void AppendRaw(std::string raw) { records_.push_back(std::move(raw)); }
  void Set(std::uint32_t rec, const std::string& field, const std::string& value) {
    const Field& f = fields_[static_cast<std::size_t>(FindField(field))];
    std::string v = value;
    if (f.type == 'N') v = std::string(static_cast<std::size_t>(std::max(0, f.width - static_cast<int>(v.size()))), ' ') + v;
    v.resize(static_cast<std::size_t>(f.width), ' ');
    records_[rec - 1].replace(static_cast<std::size_t>(f.offset), v.size(), v);
  }
  void SetAlias(std::string alias) { alias_ = std::move(alias); }

  // RecordAccess
  int FieldCount() const override { return static_cast<int>(fields_.size()); }
  int FindField(std::string_view name) const override {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const std::string& n = fields_[i].name;
      if (n.size() != name.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < n.size() && same; ++k)
        same = std::toupper(static_cast<unsigned char>(n[k])) ==
               std::toupper(static_cast<unsigned char>(name[k]));
      if (same) return static_cast<int>(i);
    }
    return -1;
  }
  char FieldType(int f) const override { return fields_[static_cast<std::size_t>(f)].type; }
  int FieldWidth(int f) const override { return fields_[static_cast<std::size_t>(f)].width; }
  int FieldDecimals(int f) const override { return fields_[static_cast<std::size_t>(f)].decimals; }
  std::string_view FieldBytes(int f) const override {
    if (current_ == 0) return {};
    const Field& fd = fields_[static_cast<std::size_t>(f)];
    return std::string_view(records_[current_ - 1])
        .substr(static_cast<std::size_t>(fd.offset), static_cast<std::size_t>(fd.width));
  }
  std::uint32_t RecNo() const override { return current_; }
  bool Deleted() const override { return current_ && records_[current_ - 1][0] == '*'; }
  std::string_view Alias() const override { return alias_; }

  // TableScan
  std::uint32_t RecordCount() const override { return static_cast<std::uint32_t>(records_.size()); }
  bool Load(std::uint32_t recno, std::string* error) override {
    if (recno < 1 || recno > records_.size()) {
      if (error) *error = "no record " + std::to_string(recno);
      return false;
    }
    current_ = recno;
    return true;
  }
  const xbe::RecordAccess& Record() const override { return *this; }

 private:
  std::vector<Field> fields_;
  std::vector<std::string> records_;
  int recordLength_ = 1;  // the deletion byte
  std::uint32_t current_ = 0;
  std::string alias_ = "T";
};

// Loads a DBF (layout and records) into `t`. False when unreadable.
inline bool LoadDbf(const std::string& path, MemTable& t) {
  std::string data;
  if (!platform::ReadWholeFile(path, data) || data.size() < 32) return false;
  auto u8 = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
  std::uint32_t count = u8(4) | (u8(5) << 8) | (u8(6) << 16) | (static_cast<std::uint32_t>(u8(7)) << 24);
  std::size_t headerLen = u8(8) | (u8(9) << 8), recLen = u8(10) | (u8(11) << 8);
  for (std::size_t p = 32; p + 32 <= headerLen && p < data.size() && data[p] != '\x0D'; p += 32) {
    std::string name(data.data() + p, 11);
    name.resize(name.find('\0') == std::string::npos ? 11 : name.find('\0'));
    t.AddField(name, data[p + 11], u8(p + 16), u8(p + 17));
  }
  if (static_cast<std::size_t>(t.RecordLength()) != recLen) return false;
  for (std::uint32_t r = 0; r < count; ++r) {
    std::size_t at = headerLen + r * recLen;
    if (at + recLen > data.size()) return false;
    t.AppendRaw(data.substr(at, recLen));
  }
  return true;
}

struct Manifest {
  std::vector<std::vector<std::string>> recs;                // REC fields after the tag
  std::map<std::string, std::vector<std::uint32_t>> orders;  // ORDER lines
  std::vector<std::string> fieldNames;
};

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : line) {
    if (c == '\t') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

inline bool LoadManifest(const std::string& path, Manifest& m) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    auto f = SplitTabs(line);
    if (f[0] == "FIELD") m.fieldNames.push_back(f[1]);
    if (f[0] == "REC") m.recs.push_back(f);
    if (f[0] == "ORDER" && f.size() >= 3) {
      auto& v = m.orders[f[1]];
      for (std::size_t i = 3; i < f.size(); ++i)
        if (!f[i].empty()) v.push_back(static_cast<std::uint32_t>(std::stoul(f[i])));
    }
  }
  return true;
}

#ifdef UST_FIXTURES_DIR
inline std::string FixturesDir() { return UST_FIXTURES_DIR; }

inline bool HaveFixtures() {
  return std::filesystem::is_directory(FixturesDir() + "/xbase");
}
#endif

// A fresh directory below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      auto p = std::filesystem::temp_directory_path() / ("cdxtest-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) path_ = p.string();
    }
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::string s;
  platform::ReadWholeFile(path, s);
  return s;
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

}  // namespace cdxtest
