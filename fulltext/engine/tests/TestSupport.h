#pragma once
// Shared by the full-text library's tests: a temporary folder, the file's
// entries read back, and the model the index is checked against.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "IndexFile.h"
#include "fts32.h"

namespace ftstest {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "fts-test-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// One entry as the file should hold it.
struct Row {
  std::string text;
  bool deleted = false;
  bool operator==(const Row&) const = default;
};

// Reads a file back without the C interface; empty and *rc set on failure.
inline std::vector<Row> ReadBack(const std::string& path, int* rc = nullptr) {
  std::unique_ptr<fts::IndexFile> f;
  const int r = fts::IndexFile::Open(path, 0, FTS_MODE_READONLY, f);
  if (rc) *rc = r;
  std::vector<Row> rows;
  if (r != FTS_OK) return rows;
  const auto& e = f->AllEntries();
  for (std::size_t i = 0; i < e.Count(); ++i) rows.push_back({std::string(e.Text(i)), e.Deleted(i)});
  f->Close();
  return rows;
}

}  // namespace ftstest
