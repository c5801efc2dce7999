#pragma once
// Helpers for the engine tests: temporary folders, fixture copies, manifests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace xbetest {

namespace fs = std::filesystem;

inline std::string FixturesDir() { return UST_FIXTURES_DIR; }

#define XBE_REQUIRE_FIXTURES()                                                         \
  if (!std::filesystem::is_directory(xbetest::FixturesDir()))                          \
  GTEST_SKIP() << "fixture folder " << xbetest::FixturesDir() << " is absent"

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "xbe_test_XXXXXX").string();
    char* made = ::mkdtemp(tmpl.data());
    if (made) path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return platform::JoinPath(path_, name); }

 private:
  std::string path_;
};

// Copies every file of `dir` whose name is `base` plus an extension (any
// case) into `dest`, keeping the names. Returns the table's path in `dest`.
inline std::string CopyTable(const std::string& dir, const std::string& base,
                             const std::string& dest) {
  std::string table;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || !platform::EqualsNoCase(name.substr(0, dot), base)) continue;
    fs::copy_file(e.path(), fs::path(dest) / name, fs::copy_options::overwrite_existing);
    if (platform::EqualsNoCase(name.substr(dot), ".dbf")) table = (fs::path(dest) / name).string();
  }
  return table;
}

inline std::string ReadAll(const std::string& path) {
  std::string s;
  platform::ReadWholeFile(path, s);
  return s;
}

inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t t = s.find(sep, pos);
    out.push_back(s.substr(pos, t == std::string::npos ? std::string::npos : t - pos));
    if (t == std::string::npos) break;
    pos = t + 1;
  }
  return out;
}

struct Manifest {
  std::string alias;
  std::uint32_t records = 0;
  std::vector<std::vector<std::string>> fields;                 // FIELD lines, split
  std::vector<std::vector<std::string>> tags;                   // TAG lines
  std::vector<std::string> recs;                                // REC lines without "REC\t"
  std::vector<std::pair<std::string, std::vector<std::uint32_t>>> orders;
};

inline bool ParseManifest(const std::string& path, Manifest& m) {
  const std::string text = ReadAll(path);
  if (text.empty()) return false;
  for (const std::string& line : Split(text, '\n')) {
    if (line.empty()) continue;
    const auto p = Split(line, '\t');
    if (p[0] == "TABLE" && p.size() >= 4) {
      m.alias = p[1];
      m.records = static_cast<std::uint32_t>(std::stoul(p[3]));
    } else if (p[0] == "FIELD") {
      m.fields.push_back(p);
    } else if (p[0] == "TAG") {
      m.tags.push_back(p);
    } else if (p[0] == "REC") {
      m.recs.push_back(line.substr(4));
    } else if (p[0] == "ORDER" && p.size() >= 3) {
      std::vector<std::uint32_t> recnos;
      for (std::size_t i = 3; i < p.size(); ++i)
        if (!p[i].empty()) recnos.push_back(static_cast<std::uint32_t>(std::stoul(p[i])));
      m.orders.emplace_back(p[1], recnos);
    }
  }
  return true;
}

// Every manifest of the fixture folders: (folder, table base name).
inline std::vector<std::pair<std::string, std::string>> ManifestTables() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* sub : {"xbase", "foxpro"}) {
    const std::string dir = platform::JoinPath(FixturesDir(), sub);
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".manifest") out.emplace_back(dir, e.path().stem().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The bytes of every file in a folder, by name (to prove nothing changed).
inline std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    files[e.path().filename().string()] = ReadAll(e.path().string());
  return files;
}

}  // namespace xbetest
