#pragma once
// Helpers of the table tests: temporary folders, fixture copies, manifests.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#define REQUIRE_ENGINE()                                                                          \
  do {                                                                                            \
    if (!::xbtest::HaveFixtures()) GTEST_SKIP() << "fixture folder " << ::xbtest::FixturesDir() << " is absent"; \
    if (!::xbtest::EngineUsable()) GTEST_SKIP() << "the engine library cannot open tables";      \
  } while (0)

namespace xbtest {

std::string FixturesDir();  // <fixtures>/xbase
bool HaveFixtures();
// True when the engine library opens a fixture table; tests skip otherwise.
bool EngineUsable();

// A fresh folder below the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // with a trailing "/"

 private:
  std::string path_;
};

// Copies <fixtures>/xbase/<base>.* into `dir`, each name given the case of
// `caseOf` (e.g. "KONTO" gives KONTO.DBF, KONTO.CDX, KONTO.FPT).
void CopyFixture(const std::string& base, const std::string& dir, const std::string& caseOf = "");

struct ManifestField {
  std::string name;
  char type = 'C';
  int width = 0, decimals = 0;
};
struct ManifestRecord {
  std::int32_t recNo = 0;
  bool deleted = false;
  std::vector<std::string> values;  // Windows-1252, as the manifest writes them
};
struct ManifestTag {
  int order = 0;
  std::string name;
  std::vector<std::int32_t> recNos;  // from the ORDER line
};
struct Manifest {
  std::string alias;
  std::int32_t records = 0;
  std::vector<ManifestField> fields;
  std::vector<ManifestRecord> recs;
  std::vector<ManifestTag> tags;
};
Manifest ReadManifest(const std::string& table);

// Bytes of a file.
std::string FileBytes(const std::string& path);
// The stored bytes of record `recNo` of a DBF file (deletion mark first), and
// the record count of its header.
std::string StoredRecord(const std::string& dbf, std::int32_t recNo);
std::int32_t StoredRecordCount(const std::string& dbf);

}  // namespace xbtest
