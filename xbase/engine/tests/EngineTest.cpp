// The engine through its C entries: table files complete after every write,
// memo round trips, damaged files, a full disk, exclusive use across
// processes, record locks, refused writes and unique tags.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "platform/Time.h"
#include "xbe50.h"

namespace {

using namespace xbetest;

std::string Bytes(const std::string& path) { return ReadAll(path); }

std::uint32_t Le32At(const std::string& s, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Patch(const std::string& path, std::size_t at, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Record() {
  std::string r(static_cast<std::size_t>(xb_RecSize()), ' ');
  xb_GetRecord(r.data());
  return r;
}

void SetField(std::string& rec, const char* name, const std::string& value) {
  const int off = xb_FieldOffset(name) - 1;
  const int width = xb_FieldWidth(name);
  ASSERT_GT(off, 0) << name;
  std::string v = value;
  v.resize(static_cast<std::size_t>(width), ' ');
  rec.replace(static_cast<std::size_t>(off), v.size(), v);
}

class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override { xb_CloseAll(); }
  TempDir tmp_;
};

TEST_F(EngineTest, EveryCommitLeavesACompleteTableAndMemosRoundTrip) {
  for (int driver : {XB_DRIVER_FOX, XB_DRIVER_NTX}) {
    SCOPED_TRACE(driver);
    const std::string path = tmp_.File(driver == XB_DRIVER_FOX ? "fox.dbf" : "clip.dbf");
    ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0;NAME:C:20;AM:D:8;OK:L:1;TEXT:M:10", driver), 1)
        << xb_LastError();
    EXPECT_EQ(xb_Create(path.c_str(), "NR:N:8:0", driver), 0);  // never overwrites
    const std::string memoPath =
        tmp_.File(driver == XB_DRIVER_FOX ? "fox.fpt" : "clip.dbt");
    ASSERT_TRUE(platform::FileExists(memoPath));
    ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, static_cast<int16_t>(driver)), 0)
        << xb_LastError();
    EXPECT_EQ(xb_RecCount(), 0);
    EXPECT_EQ(xb_GoTop(), 1);
    EXPECT_EQ(xb_Eof(), 1);
    EXPECT_EQ(xb_Bof(), 1);
    const std::string big(1500, 'x');
    for (int i = 1; i <= 4; ++i) {
      ASSERT_EQ(xb_AppendBlank(), 1) << xb_LastError();
      EXPECT_EQ(xb_RecNo(), i);
      std::string rec = Record();
      SetField(rec, "NR", std::string(7, ' ') + std::to_string(i));
      SetField(rec, "NAME", "M\xFCller");
      SetField(rec, "AM", "20200701");
      ASSERT_EQ(xb_PutRecord(rec.data()), 1) << xb_LastError();
      const std::string memo = i == 2 ? big : "Zeile " + std::to_string(i) + "\r\nweiter";
      ASSERT_EQ(xb_MemoWrite("TEXT", memo.data(), static_cast<int32_t>(memo.size())),
                static_cast<int32_t>(memo.size()))
          << xb_LastError();

      // An exclusive open keeps records in its cache; a commit puts the
      // whole table, header and end marker included, on disk.
      ASSERT_EQ(xb_Commit(), 1) << xb_LastError();
      const std::string file = Bytes(path);
      const std::uint32_t header = static_cast<unsigned char>(file[8]) | (static_cast<unsigned char>(file[9]) << 8);
      const std::uint32_t recLen = static_cast<unsigned char>(file[10]) | (static_cast<unsigned char>(file[11]) << 8);
      EXPECT_EQ(Le32At(file, 4), static_cast<std::uint32_t>(i));
      ASSERT_EQ(file.size(), header + i * recLen + 1);
      EXPECT_EQ(file.back(), '\x1A');
      const auto today = platform::NowLocal();
      EXPECT_EQ(static_cast<unsigned char>(file[1]), today.year - 1900);
      EXPECT_EQ(static_cast<unsigned char>(file[2]), today.month);
      EXPECT_EQ(static_cast<unsigned char>(file[3]), today.day);
    }
    // Shrinking and growing memos keep the others intact.
    ASSERT_EQ(xb_Go(2), 1);
    ASSERT_EQ(xb_MemoWrite("TEXT", "kurz", 4), 4);
    ASSERT_EQ(xb_Go(3), 1);
    ASSERT_EQ(xb_MemoWrite("TEXT", big.data(), 1400), 1400);
    if (driver == XB_DRIVER_NTX) {
      EXPECT_EQ(xb_MemoWrite("TEXT", "a\x1A" "b", 3), -1);  // DBT text cannot hold 0x1A
      EXPECT_STRNE(xb_LastError(), "");
    }
    ASSERT_EQ(xb_Delete(), 1);
    ASSERT_EQ(xb_Close(), 1) << xb_LastError();

    ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_READONLY, static_cast<int16_t>(driver)), 0);
    const char* expected[] = {"Zeile 1\r\nweiter", "kurz", nullptr, "Zeile 4\r\nweiter"};
    for (int i = 1; i <= 4; ++i) {
      ASSERT_EQ(xb_Go(i), 1);
      char buf[2000];
      const int32_t n = xb_MemoRead("TEXT", buf, sizeof buf);
      const std::string got(buf, static_cast<std::size_t>(std::max(n, 0)));
      EXPECT_EQ(got, expected[i - 1] ? std::string(expected[i - 1]) : big.substr(0, 1400)) << i;
      EXPECT_EQ(xb_MemoLen("TEXT"), n);
      EXPECT_EQ(xb_Deleted(), i == 3 ? 1 : 0);
      EXPECT_EQ(Record().substr(static_cast<std::size_t>(xb_FieldOffset("NAME") - 1), 6), "M\xFCller");
    }
    EXPECT_EQ(xb_AppendBlank(), 0);  // read-only
    EXPECT_STRNE(xb_LastError(), "");
    EXPECT_EQ(xb_Close(), 1);
  }
}

TEST_F(EngineTest, DamagedFilesGiveErrorsAndStayUntouched) {
  const std::string path = tmp_.File("t.dbf");
  ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0;TEXT:M:10", XB_DRIVER_FOX), 1) << xb_LastError();
  ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(xb_AppendBlank(), 1);
    ASSERT_EQ(xb_MemoWrite("TEXT", "hallo", 5), 5);
  }
  ASSERT_EQ(xb_Close(), 1);
  const std::string good = Bytes(path);
  const std::string goodMemo = Bytes(tmp_.File("t.fpt"));
  const std::size_t header = static_cast<unsigned char>(good[8]) | (static_cast<unsigned char>(good[9]) << 8);
  const std::size_t recLen = static_cast<unsigned char>(good[10]);
  const std::size_t memoField = header + 1 + 8;  // record 1, field TEXT

  struct Case {
    const char* what;
    std::string dbf;
    std::string fpt;
    bool opens;  // the damage shows only when the memo is read
  };
  std::vector<Case> cases = {
      {"truncated header", good.substr(0, 20), goodMemo, false},
      {"record count beyond the file", good.substr(0, 4) + std::string("\xE8\x03\0\0", 4) + good.substr(8), goodMemo, false},
      {"header length 0", good.substr(0, 8) + std::string(2, '\0') + good.substr(10), goodMemo, false},
      {"unknown first byte", "\x42" + good.substr(1), goodMemo, false},
      {"fields wider than the record", good.substr(0, 10) + std::string(1, '\x03') + good.substr(11), goodMemo, false},
      {"memo block beyond the file", good.substr(0, memoField) + "    999999" + good.substr(memoField + 10), goodMemo, true},
      {"memo block inside the header", good.substr(0, memoField) + "         1" + good.substr(memoField + 10), goodMemo, true},
      {"memo reference not a number", good.substr(0, memoField) + "   12x4567" + good.substr(memoField + 10), goodMemo, true},
      {"memo length beyond the file", good, goodMemo.substr(0, 516) + std::string("\x7F\xFF\xFF\xFF", 4) + goodMemo.substr(520), true},
      {"memo block size 0", good, goodMemo.substr(0, 6) + std::string(2, '\0') + goodMemo.substr(8), false},
      {"memo file truncated", good, goodMemo.substr(0, 10), false},
  };
  (void)recLen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(platform::WriteFileAtomic(path, c.dbf));
    ASSERT_TRUE(platform::WriteFileAtomic(tmp_.File("t.fpt"), c.fpt));
    const auto before = Snapshot(tmp_.Path());
    const int16_t wa = xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX);
    if (!c.opens) {
      EXPECT_EQ(wa, 0);
      EXPECT_STRNE(xb_LastError(), "");
    } else {
      ASSERT_GT(wa, 0) << xb_LastError();
      ASSERT_EQ(xb_Go(1), 1);
      EXPECT_EQ(xb_MemoLen("TEXT"), -1);
      EXPECT_STRNE(xb_LastError(), "");
      char buf[16];
      EXPECT_EQ(xb_MemoRead("TEXT", buf, sizeof buf), -1);
      EXPECT_EQ(xb_Close(), 1);
    }
    EXPECT_EQ(Snapshot(tmp_.Path()), before);
  }
}

// Files may not grow beyond a size while it stands, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write instead of the signal
    struct rlimit tight = old_;
    tight.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &tight);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  struct rlimit old_ {};
  void (*oldHandler_)(int) = SIG_DFL;
};

// Index pages wait in memory until the close (in exclusive use) or the end
// of the write (in shared use). An index that needs a new page where the
// disk has no room must refuse the write that needs it, and table and index
// must stay sound: not fail later with half the pages written.
TEST_F(EngineTest, AnIndexThatCannotGrowRefusesTheWriteAndStaysSound) {
  for (int driver : {XB_DRIVER_FOX, XB_DRIVER_NTX}) {
    for (int16_t mode : {XB_MODE_EXCLUSIVE, XB_MODE_SHARED}) {
      SCOPED_TRACE(std::to_string(driver) + " " + std::to_string(mode));
      const std::string path =
          tmp_.File((driver == XB_DRIVER_FOX ? "fox" : "clip") + std::to_string(mode) + ".dbf");
      ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0;BEZ:C:60", driver), 1) << xb_LastError();
      ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, driver), 0) << xb_LastError();
      // Long keys, so that the index outgrows the table.
      ASSERT_EQ(xb_CreateTag("LONG", "BEZ+BEZ+STR(NR,8)", "", 0), 1) << xb_LastError();
      if (driver == XB_DRIVER_FOX) {
        ASSERT_EQ(xb_CreateTag("NRBEZ", "STR(NR,8)+BEZ", "", 0), 1) << xb_LastError();
        ASSERT_EQ(xb_CreateTag("UBEZ", "UPPER(BEZ)+STR(NR,8)", "", 0), 1) << xb_LastError();
      }
      ASSERT_EQ(xb_Close(), 1) << xb_LastError();

      ASSERT_GT(xb_Use(path.c_str(), "", mode, driver), 0) << xb_LastError();
      int written = 0;
      std::string error;
      {
        FileSizeLimit limit(40 * 1024);
        for (int i = 1; i <= 3000; ++i) {
          if (xb_AppendBlank() != 1) {
            error = xb_LastError();
            break;
          }
          std::string rec = Record();
          SetField(rec, "NR", std::to_string(i));
          SetField(rec, "BEZ", "Label " + std::to_string(i * 7919 % 100003));
          if (xb_PutRecord(rec.data()) != 1) {
            error = xb_LastError();
            break;
          }
          written = i;
        }
        // The disk is still full when the table is closed.
        EXPECT_EQ(xb_Close(), 1) << xb_LastError();
      }
      EXPECT_NE(error.find("cannot grow"), std::string::npos) << error;
      EXPECT_EQ(error.find(": tag "), std::string::npos) << "the tag named once: " << error;
      EXPECT_GT(written, 50);

      ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, driver), 0) << xb_LastError();
      EXPECT_EQ(xb_CheckIndexes(), 1) << xb_LastError();
      const int count = xb_RecCount();
      EXPECT_TRUE(count == written || count == written + 1) << count << " " << written;
      // With room again, writing goes on.
      ASSERT_EQ(xb_AppendBlank(), 1) << xb_LastError();
      EXPECT_EQ(xb_CheckIndexes(), 1) << xb_LastError();
      ASSERT_EQ(xb_Close(), 1) << xb_LastError();
    }
  }
}

// A child process holds the table while the parent tries it, and the other way round.
TEST_F(EngineTest, ExclusiveUseKeepsOtherProcessesAndWorkAreasOut) {
  const std::string path = tmp_.File("x.dbf");
  ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0", XB_DRIVER_FOX), 1);
  auto childHolds = [&](int16_t mode, auto&& whileHeld) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      const char ok = xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX) > 0 ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      char c;
      (void)!::read(release[0], &c, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    whileHeld();
    ::close(release[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ready[0]);
  };
  childHolds(XB_MODE_EXCLUSIVE, [&] {
    EXPECT_EQ(xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX), 0);
    EXPECT_EQ(xb_Use(path.c_str(), "", XB_MODE_READONLY, XB_DRIVER_FOX), 0);
    EXPECT_EQ(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0);
    EXPECT_STRNE(xb_LastError(), "");
  });
  childHolds(XB_MODE_SHARED, [&] {
    EXPECT_EQ(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0);
    const int16_t wa = xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX);
    EXPECT_GT(wa, 0);
    xb_Close();
  });
  // After the child ended, its use is gone.
  const int16_t a = xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX);
  ASSERT_GT(a, 0);
  // A second work area of this process is kept out as well.
  EXPECT_EQ(xb_Use(path.c_str(), "OTHER", XB_MODE_SHARED, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_Select(a), a);
  EXPECT_EQ(xb_Close(), 1);
}

TEST_F(EngineTest, RecordLocksConflictBetweenWorkAreas) {
  const std::string path = tmp_.File("l.dbf");
  ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0", XB_DRIVER_FOX), 1);
  const int16_t a = xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX);
  ASSERT_GT(a, 0);
  ASSERT_EQ(xb_AppendBlank(), 1);
  ASSERT_EQ(xb_AppendBlank(), 1);
  const int16_t b = xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX);
  ASSERT_GT(b, 0);
  EXPECT_STREQ(xb_TagName(1), "");
  EXPECT_EQ(xb_WorkArea("L"), a);
  EXPECT_EQ(xb_WorkArea("L1"), b);  // the second open of the name gets its own alias
  EXPECT_EQ(xb_RecCount(), 2);      // sees the other work area's appends
  ASSERT_EQ(xb_Select(a), a);
  EXPECT_EQ(xb_Rlock(1), 1);
  EXPECT_EQ(xb_Locked(1), 1);
  ASSERT_EQ(xb_Select(b), b);
  EXPECT_EQ(xb_Rlock(1), 0);
  EXPECT_EQ(xb_Rlock(2), 1);
  EXPECT_EQ(xb_Locked(1), 0);
  ASSERT_EQ(xb_Select(a), a);
  EXPECT_EQ(xb_Unlock(0), 1);
  EXPECT_EQ(xb_Locked(1), 0);
  ASSERT_EQ(xb_Select(b), b);
  EXPECT_EQ(xb_Rlock(1), 1);
  EXPECT_EQ(xb_Rlock(3), 0);  // no such record
}

TEST_F(EngineTest, NavigationFollowsTheOrderAndItsDirection) {
  const std::string path = tmp_.File("n.dbf");
  ASSERT_EQ(xb_Create(path.c_str(), "NAME:C:10", XB_DRIVER_FOX), 1);
  ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0);
  for (const char* name : {"B", "A", "C", "A", "B"}) {
    ASSERT_EQ(xb_AppendBlank(), 1);
    std::string rec = Record();
    SetField(rec, "NAME", name);
    ASSERT_EQ(xb_PutRecord(rec.data()), 1);
  }
  ASSERT_EQ(xb_CreateTag("NAME", "NAME", "", 0), 1) << xb_LastError();
  ASSERT_EQ(xb_CreateTag("DESC", "NAME", "", 1), 1) << xb_LastError();
  ASSERT_EQ(xb_CreateTag("UNI", "NAME", "", 2), 1) << xb_LastError();
  EXPECT_EQ(xb_SysProp(XB_PROP_ORDER_COUNT, 0), 3);
  auto walk = [] {
    std::vector<int> r;
    xb_GoTop();
    while (!xb_Eof() && r.size() < 20) {
      r.push_back(xb_RecNo());
      xb_Skip(1);
    }
    return r;
  };
  EXPECT_EQ(walk(), (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_EQ(xb_SetOrder(1), 1);
  EXPECT_EQ(walk(), (std::vector<int>{2, 4, 1, 5, 3}));
  EXPECT_EQ(xb_RecNo(), 6);  // past the end
  EXPECT_EQ(xb_Skip(-1), 1);
  EXPECT_EQ(xb_RecNo(), 3);
  ASSERT_EQ(xb_SetOrder(2), 1);
  EXPECT_EQ(xb_SysProp(XB_PROP_DESCENDING, 0), 1);
  EXPECT_EQ(walk(), (std::vector<int>{3, 5, 1, 4, 2}));
  EXPECT_EQ(xb_Seek("A"), 1);
  EXPECT_EQ(xb_RecNo(), 4);  // first in descending order: the higher record
  EXPECT_EQ(xb_Skip(-5), 1);
  EXPECT_EQ(xb_Bof(), 1);
  EXPECT_EQ(xb_RecNo(), 3);
  ASSERT_EQ(xb_SetOrder(1), 1);
  EXPECT_EQ(xb_Seek("B"), 1);
  EXPECT_EQ(xb_RecNo(), 1);
  EXPECT_EQ(xb_Seek("X"), 0);
  EXPECT_EQ(xb_Eof(), 1);
  // From a record reached by number, skipping continues in the order.
  ASSERT_EQ(xb_Go(5), 1);
  EXPECT_EQ(xb_Skip(1), 1);
  EXPECT_EQ(xb_RecNo(), 3);

  // Unique: when the holder of a key changes, the next record takes its place.
  ASSERT_EQ(xb_SetOrder(3), 1);
  EXPECT_EQ(xb_IndexType(3), XB_INDEX_UNIQUE);
  EXPECT_EQ(walk(), (std::vector<int>{2, 1, 3}));
  ASSERT_EQ(xb_Go(2), 1);
  std::string rec = Record();
  SetField(rec, "NAME", "D");
  ASSERT_EQ(xb_PutRecord(rec.data()), 1) << xb_LastError();
  EXPECT_EQ(walk(), (std::vector<int>{4, 1, 3, 2}));
  ASSERT_EQ(xb_Go(5), 1);
  rec = Record();
  SetField(rec, "NAME", "A");
  ASSERT_EQ(xb_PutRecord(rec.data()), 1);
  EXPECT_EQ(walk(), (std::vector<int>{4, 1, 3, 2}));
  ASSERT_EQ(xb_Go(1), 1);
  rec = Record();
  SetField(rec, "NAME", "0");
  ASSERT_EQ(xb_PutRecord(rec.data()), 1);
  EXPECT_EQ(walk(), (std::vector<int>{1, 4, 3, 2}));  // no "B" left
  EXPECT_EQ(xb_CheckIndexes(), 1) << xb_LastError();

  // With deleted records hidden, they are stepped over.
  ASSERT_EQ(xb_SetOrder(0), 1);
  ASSERT_EQ(xb_Go(1), 1);
  ASSERT_EQ(xb_Delete(), 1);
  xb_SetDeleted(1);
  EXPECT_EQ(walk(), (std::vector<int>{2, 3, 4, 5}));
  xb_SetDeleted(0);
  EXPECT_EQ(walk(), (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_EQ(xb_Go(1), 1);
  EXPECT_STREQ(xb_EvalString("NAME"), "0         ");
}

// A table far larger than the record cache, walked in an order that jumps
// across the file, as the table component walks it (going to the current
// record before each skip) and edited on the way: every read shows the
// latest write, whether its block is cached, dirty or was never loaded, and
// the walk visits every record once in key order.
TEST_F(EngineTest, ALargeTableReadsItsLatestRecordsInAnyOrder) {
  const std::string path = tmp_.File("big.dbf");
  std::string fields = "NR:N:8:0;MARK:C:8";
  for (int i = 0; i < 15; ++i) fields += ";PAD" + std::to_string(i) + ":C:254";
  ASSERT_EQ(xb_Create(path.c_str(), fields.c_str(), XB_DRIVER_FOX), 1) << xb_LastError();
  ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_LastError();
  constexpr int kRecords = 10000;  // about 38 MB
  std::vector<std::string> mark(kRecords + 1);
  for (int r = 1; r <= kRecords; ++r) {
    ASSERT_EQ(xb_AppendBlank(), 1) << xb_LastError();
    std::string rec = Record();
    // NR runs through the records in a scattered order.
    SetField(rec, "NR", std::to_string((r * 7919) % kRecords));
    mark[r] = "A" + std::to_string(r);
    SetField(rec, "MARK", mark[r]);
    ASSERT_EQ(xb_PutRecord(rec.data()), 1) << xb_LastError();
  }
  ASSERT_EQ(xb_CreateTag("NR", "NR", "", 0), 1) << xb_LastError();
  ASSERT_EQ(xb_SetOrder(1), 1);

  auto walk = [&](int editEvery, const char* pass) {
    int seen = 0;
    int last = -1;
    xb_GoTop();
    while (!xb_Eof()) {
      const int r = xb_RecNo();
      std::string rec = Record();
      const int nr = std::atoi(rec.substr(1, 8).c_str());
      EXPECT_GT(nr, last) << pass;
      last = nr;
      std::string m = rec.substr(9, 8);
      while (!m.empty() && m.back() == ' ') m.pop_back();
      EXPECT_EQ(m, mark[r]) << pass << " record " << r;
      if (editEvery > 0 && r % editEvery == 0) {
        mark[r] = std::string(pass) + std::to_string(r % 1000);
        SetField(rec, "MARK", mark[r]);
        EXPECT_EQ(xb_PutRecord(rec.data()), 1) << xb_LastError();
      }
      ++seen;
      EXPECT_EQ(xb_Go(r), 1);
      EXPECT_EQ(xb_RecNo(), r);
      xb_Skip(1);
    }
    EXPECT_EQ(seen, kRecords) << pass;
  };
  walk(3, "B");
  walk(7, "C");
  walk(0, "D");
  ASSERT_EQ(xb_CloseAll(), 1) << xb_LastError();
  ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_LastError();
  ASSERT_EQ(xb_SetOrder(1), 1);
  walk(0, "E");
  EXPECT_EQ(xb_CheckIndexes(), 1) << xb_LastError();
}

// A write whose old key is not where the engine computes it is refused and
// changes nothing: the index was built with other rules or is damaged.
TEST_F(EngineTest, WriteIsRefusedWhenTheIndexDisagreesWithTheRecord) {
  XBE_REQUIRE_FIXTURES();
  const std::string table =
      CopyTable(platform::JoinPath(FixturesDir(), "xbase"), "steuersatz", tmp_.Path());
  // Record 5's ID changed behind the index's back.
  std::string file = Bytes(table);
  const std::size_t header = static_cast<unsigned char>(file[8]) | (static_cast<unsigned char>(file[9]) << 8);
  const std::size_t recLen = static_cast<unsigned char>(file[10]) | (static_cast<unsigned char>(file[11]) << 8);
  Patch(table, header + 4 * recLen + 1, "999");
  const auto before = Snapshot(tmp_.Path());
  ASSERT_GT(xb_Use(table.c_str(), "", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_LastError();
  ASSERT_EQ(xb_Go(5), 1);
  std::string rec = Record();
  SetField(rec, "ID", "  7");
  EXPECT_EQ(xb_PutRecord(rec.data()), 0);
  EXPECT_NE(std::string(xb_LastError()).find("rebuild"), std::string::npos) << xb_LastError();
  EXPECT_EQ(xb_Delete(), 0);
  EXPECT_EQ(xb_CheckIndexes(), 0);
  EXPECT_STRNE(xb_LastError(), "");
  ASSERT_EQ(xb_Close(), 1);
  EXPECT_EQ(Snapshot(tmp_.Path()), before);
}

// An index file of a kind the engine does not keep (another driver's, or
// dBASE IV's MDX) would go stale with every write: only reading is allowed.
TEST_F(EngineTest, ForeignIndexBesideTheTableAllowsOnlyReading) {
  const std::string path = tmp_.File("f.dbf");
  ASSERT_EQ(xb_Create(path.c_str(), "NR:N:8:0", XB_DRIVER_FOX), 1);
  for (const char* other : {"F.NTX", "f.mdx"}) {
    SCOPED_TRACE(other);
    ASSERT_TRUE(platform::WriteFileAtomic(tmp_.File(other), std::string(1024, '\0')));
    const auto before = Snapshot(tmp_.Path());
    EXPECT_EQ(xb_Use(path.c_str(), "", XB_MODE_SHARED, XB_DRIVER_FOX), 0);
    EXPECT_NE(std::string(xb_LastError()).find(other), std::string::npos) << xb_LastError();
    ASSERT_GT(xb_Use(path.c_str(), "", XB_MODE_READONLY, XB_DRIVER_FOX), 0);
    EXPECT_EQ(xb_Close(), 1);
    EXPECT_EQ(Snapshot(tmp_.Path()), before);
    ASSERT_TRUE(platform::RemoveFile(tmp_.File(other)));
  }
}

}  // namespace
