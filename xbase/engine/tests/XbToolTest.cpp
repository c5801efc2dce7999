// xbtool as a separate process: a table built, indexed, changed by a script
// and read back; the fixtures dumped in tag order equal their manifests.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "TestUtil.h"

namespace {

using namespace xbetest;

struct Result {
  int code = -1;
  std::string out;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result Tool(const std::vector<std::string>& args) {
  std::string cmd = Quote(platform::JoinPath(UST_BIN_DIR, "xbtool"));
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>&1";
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class XbToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::FileExists(platform::JoinPath(UST_BIN_DIR, "xbtool")))
      GTEST_SKIP() << "xbtool is not built";
  }
  TempDir tmp_;
};

TEST_F(XbToolTest, ScriptChangesReachEveryTagAndReadBack) {
  for (bool ntx : {false, true}) {
    SCOPED_TRACE(ntx ? "ntx" : "cdx");
    const std::string table = tmp_.File(ntx ? "clip.dbf" : "fox.dbf");
    std::vector<std::string> create = {"create", table, "NR:N:6:0", "NAME:C:12", "AM:D:8",
                                       "OK:L:1", "NOTE:M:10"};
    if (ntx) create.push_back("--ntx");
    ASSERT_EQ(Tool(create).code, 0);
    const std::string script = tmp_.File("s.txt");
    ASSERT_TRUE(platform::WriteFileAtomic(
        script,
        "append\tNR=3\tNAME=Müller\tAM=20200701\tOK=T\tNOTE=Zeile 1\\r\\nZeile 2\n"
        "append\tNR=1\tNAME=Bäcker\n"
        "append\tNR=2\tNAME=Straße\tOK=F\n"
        "edit\t1\tNR=5\n"
        "delete\t2\n"
        "delete\t3\n"
        "recall\t3\n"));
    Result r = Tool({"apply", table, script});
    ASSERT_EQ(r.code, 0) << r.out;
    ASSERT_EQ(Tool({"index", table, "NR", "NR", "--descending"}).code, 0);
    r = Tool({"dump", table});
    EXPECT_EQ(r.out,
              "1\t \t5\tMüller\t20200701\tT\tZeile 1\\r\\nZeile 2\n"
              "2\t*\t1\tBäcker\t\t\t\n"
              "3\t \t2\tStraße\t\tF\t\n");
    r = Tool({"dump", table, "--order", "1"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, 2), "1\t");  // descending: 5 first
    // Changes after the index exists keep it in step.
    ASSERT_TRUE(platform::WriteFileAtomic(script, "append\tNR=9\tNAME=Neu\nedit\t3\tNR=7\n"));
    ASSERT_EQ(Tool({"apply", table, script}).code, 0);
    r = Tool({"dump", table, "--order", "1"});
    std::string order;
    for (const auto& line : Split(r.out, '\n'))
      if (!line.empty()) order += line.substr(0, line.find('\t')) + " ";
    EXPECT_EQ(order, "4 3 1 2 ");
    r = Tool({"seek", table, "1", "7"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "3\n");
    r = Tool({"seek", table, "1", "8"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "not found\n");
    r = Tool({"check", table});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "OK\n");

    // A failing line stops the script with its number; earlier lines stay.
    ASSERT_TRUE(platform::WriteFileAtomic(script, "append\tNR=11\nedit\t99\tNR=1\n"));
    r = Tool({"apply", table, script});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.out.find("line 2"), std::string::npos) << r.out;
    EXPECT_EQ(Tool({"check", table}).out, "OK\n");
  }
}

TEST_F(XbToolTest, FixtureDumpsInTagOrderEqualTheManifests) {
  XBE_REQUIRE_FIXTURES();
  for (const auto& [dir, base] : ManifestTables()) {
    SCOPED_TRACE(base);
    Manifest m;
    ASSERT_TRUE(ParseManifest(platform::JoinPath(dir, base + ".manifest"), m));
    const std::string table = platform::JoinPath(dir, base + ".dbf");
    for (const auto& [tag, recnos] : m.orders) {
      const Result r = Tool({"dump", table, "--order", platform::Win1252ToUtf8(tag)});
      ASSERT_EQ(r.code, 0) << r.out;
      std::vector<std::uint32_t> got;
      for (const auto& line : Split(r.out, '\n'))
        if (!line.empty()) got.push_back(static_cast<std::uint32_t>(std::stoul(line)));
      EXPECT_EQ(got, recnos) << tag;
    }
    const Result c = Tool({"check", table});
    EXPECT_EQ(c.code, 0) << c.out;
  }
  // Unreadable tags: a dump in physical order works, a script does not run.
  TempDir copy;
  const std::string table =
      CopyTable(platform::JoinPath(FixturesDir(), "foxpro"), "types", copy.Path());
  const auto before = Snapshot(copy.Path());
  EXPECT_EQ(Tool({"dump", table}).code, 0);
  const std::string script = tmp_.File("s.txt");
  ASSERT_TRUE(platform::WriteFileAtomic(script, "append\tCONTACT_T2=x\n"));
  const Result r = Tool({"apply", table, script});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.out.find("CDX"), std::string::npos) << r.out;
  EXPECT_EQ(Snapshot(copy.Path()), before);
}

}  // namespace
