#include "TableTestUtil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Encoding.h"
#include "xbase/XbDSet.h"
#include "xbase/engine/binding/XBE50.h"

#include <gtest/gtest.h>
#include <memory>

namespace fs = std::filesystem;

namespace xbtest {
namespace {

// The engine object of the test program, as the program creates one at start.
class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { engine_ = std::make_unique<TXBEEngine>(); }
  void TearDown() override { engine_.reset(); }

 private:
  std::unique_ptr<TXBEEngine> engine_;
};

[[maybe_unused]] ::testing::Environment* const kEngineEnvironment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace

std::string FixturesDir() { return std::string(UST_FIXTURES_DIR) + "/xbase"; }

bool HaveFixtures() { return fs::exists(FixturesDir() + "/konto.dbf"); }

bool EngineUsable() {
  static const bool usable = [] {
    if (!HaveFixtures()) return false;
    try {
      TXbTable t;
      t.SetDatabaseName(FixturesDir());
      t.SetTableName("leer.dbf");
      t.SetReadOnly(true);
      t.Open();
      t.Close();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }();
  return usable;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "xbtable-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void CopyFixture(const std::string& base, const std::string& dir, const std::string& caseOf) {
  for (const auto& entry : fs::directory_iterator(FixturesDir())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(base + ".", 0) != 0 || entry.path().extension() == ".manifest") continue;
    std::string target = name;
    if (!caseOf.empty()) target = caseOf + platform::AsciiUpper(entry.path().extension().string());
    fs::copy_file(entry.path(), dir + target, fs::copy_options::overwrite_existing);
    fs::permissions(dir + target, fs::perms::owner_write, fs::perm_options::add);
  }
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string StoredRecord(const std::string& dbf, std::int32_t recNo) {
  const std::string b = FileBytes(dbf);
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
  };
  return b.substr(u16(8) + static_cast<std::size_t>(recNo - 1) * u16(10), u16(10));
}

std::int32_t StoredRecordCount(const std::string& dbf) {
  const std::string b = FileBytes(dbf);
  std::int32_t n = 0;
  for (std::size_t i = 8; i-- > 4;) n = n << 8 | static_cast<unsigned char>(b[i]);
  return n;
}

Manifest ReadManifest(const std::string& table) {
  Manifest m;
  std::istringstream in(FileBytes(FixturesDir() + "/" + table + ".manifest"));
  std::string line;
  std::map<std::string, int> tagOrder;
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::size_t start = 0;
    for (;;) {
      const auto tab = line.find('\t', start);
      cols.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (cols[0] == "TABLE") {
      m.alias = cols[1];
      m.records = std::stoi(cols[3]);
    } else if (cols[0] == "FIELD") {
      m.fields.push_back({cols[1], cols[2][0], std::stoi(cols[3]), std::stoi(cols[4])});
    } else if (cols[0] == "TAG") {
      ManifestTag t;
      t.order = std::stoi(cols[1]);
      t.name = cols[2];
      m.tags.push_back(t);
    } else if (cols[0] == "REC") {
      ManifestRecord r;
      r.recNo = std::stoi(cols[1]);
      r.deleted = cols[2] == "*";
      r.values.assign(cols.begin() + 3, cols.end());
      r.values.resize(m.fields.size());
      m.recs.push_back(std::move(r));
    } else if (cols[0] == "ORDER") {
      for (auto& t : m.tags) {
        if (t.name != cols[1]) continue;
        for (std::size_t i = 3; i < cols.size(); ++i)
          if (!cols[i].empty()) t.recNos.push_back(std::stoi(cols[i]));
      }
    }
  }
  return m;
}

}  // namespace xbtest
