#include "EngineFixture.h"

#include <cstdlib>
#include <filesystem>

#include "DemoTables.h"
#include "fts32.h"
#include "hostenv/Application.h"
#include "hostenv/Locations.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"
#include "xbe50.h"

namespace conversion::testing {

demo::TDemoKonto Konto(std::int32_t nr, const std::string& bez, std::vector<std::string> slots,
                       const std::string& flags) {
  demo::TDemoKonto k;
  k.Nr = nr;
  k.Bez = bez;
  k.Typ = 'S';
  for (std::size_t i = 0; i < slots.size() && i < 5; ++i) {
    k.Slots[i] = slots[i];
    if (i > 0 && !slots[i].empty()) k.SlotDates[i] = 39083.0;  // 01.01.2007
  }
  k.Flags = flags;
  k.Changed = 43831.5;  // 01.01.2020 12:00
  return k;
}

demo::TDemoSSL Key(std::int32_t id, const std::string& bez, const std::string& flags) {
  return {id, "SSL " + std::to_string(id), bez, 19, 3, "", "", flags, 0, 0};
}

void TEngineTest::SetUp() {
  const std::string r = FRoot.Dir();
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS",
                           "XDG_RUNTIME_DIR", "SSH_CONNECTION", "SSH_CLIENT", "DISPLAY"}) {
    const char* old = std::getenv(name);
    FSavedEnv.emplace_back(name, old ? old : std::string("\x01"));
  }
  setenv("HOME", (r + "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (r + "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (r + "data").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (r + "etc").c_str(), 1);
  setenv("XDG_DATA_DIRS", (r + "share").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (r + "run").c_str(), 1);
  setenv("SSH_CONNECTION", "", 1);
  setenv("SSH_CLIENT", "", 1);
  setenv("DISPLAY", "", 1);
  std::filesystem::create_directories(r + "run");
  std::filesystem::create_directories(r + "home");
  FProg = r + "prog/";
  std::filesystem::create_directories(FProg);
  hostenv::SetHostProgramDirectory(FProg);
  hostenv::Application().ClearTerminateRequest();
  hostenv::CreateZeRegistry();
  hostenv::CreateZeOptions();
  FXbe = std::make_unique<TXBEEngine>();
  if (!FXbe->m_bIsLoaded) FXbe->LoadDLLs();
  ASSERT_TRUE(FXbe->m_bIsLoaded) << "libxbe50.so not loaded from " << UST_BIN_DIR << ": " << FXbe->LoadError();
}

void TEngineTest::TearDown() {
  FEngine.reset();
  hostenv::ReleaseZeOptions();
  hostenv::ReleaseZeRegistry();
  hostenv::CloseModuleCount();
  hostenv::SetHostProgramDirectory("");
  FXbe.reset();
  for (const auto& [name, value] : FSavedEnv) {
    if (value == "\x01")
      unsetenv(name.c_str());
    else
      setenv(name.c_str(), value.c_str(), 1);
  }
}

std::string TEngineTest::Fibu(int nr) const {
  return FFibuOf ? FFibuOf(nr) : FRoot.Dir() + "daten/m" + std::to_string(nr) + "/Fibu/";
}

void TEngineTest::UseInstallation(const std::string& progDir, std::function<std::string(int)> fibuOf) {
  FFibuOf = std::move(fibuOf);
  FProg = progDir;
  hostenv::SetHostProgramDirectory(FProg);
  hostenv::ZeOptions().SetProgPath(FProg);
  hostenv::ZeOptions().SetZempaIni(hostenv::TZeIniFile::CreateEx("ZEMPA.INI", false, true, false));
  FEngine = std::make_unique<TQORUSt2020Obj>();
  FMandantCount = FEngine->MandantCount();
}

void TEngineTest::Install(const std::vector<TMandantSpec>& mandanten, const std::string& csv03,
                          const std::string& csv04) {
  auto write = [](const std::string& path, const std::string& utf8) {
    std::filesystem::create_directories(platform::DirectoryPart(path));
    ASSERT_TRUE(platform::WriteFileAtomic(path, platform::Utf8ToWin1252Lossy(utf8)));
  };
  FMandantCount = static_cast<int>(mandanten.size());
  for (int i = 0; i < FMandantCount; ++i) {
    const TMandantSpec& m = mandanten[static_cast<std::size_t>(i)];
    const std::string ini = !m.IniName.empty() ? m.IniName
                            : i == 0           ? "ZEMPA.INI"
                                               : "zempa" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".ini";
    write(FProg + ini, "[Konstanten]\r\nMandant=" + m.Name + "\r\n[BasisVerzeichnisse]\r\nBeweg=" + FRoot.Dir() +
                           "daten/m" + std::to_string(i) + "/\r\n");
    write(Fibu(i) + "Konto.ini", "[Konstanten]\r\nSKR=" + m.Skr + "\r\n");
    demo::WriteTaxKeyTable(Fibu(i), m.Keys);
    if (!m.WithKontoTable) continue;
    if (m.KontoFields.empty()) {
      demo::WriteAccountTable(Fibu(i), m.Konten, 7);
    } else {
      demo::TDbfWriter w(Fibu(i) + "konto.dbf", m.KontoFields);
      w.AddTag("KNT_NR", "KNT_NR");
      w.Close();
    }
  }
  if (!csv03.empty()) write(FProg + "USt2020_SKR03.csv", csv03);
  if (!csv04.empty()) write(FProg + "USt2020_SKR04.csv", csv04);
  write(FProg + "USt2020_Info.rtf", "{\\rtf1 Info}");
  hostenv::ZeOptions().SetZempaIni(hostenv::TZeIniFile::CreateEx("ZEMPA.INI", false, true, false));
  FEngine = std::make_unique<TQORUSt2020Obj>();
  ASSERT_EQ(FEngine->MandantCount(), FMandantCount);
  if (!csv03.empty() && !csv04.empty()) {
    ASSERT_TRUE(FEngine->CheckFiles(FProg)) << FEngine->LastError();
  }
}

std::vector<TRecord> TEngineTest::ReadTable(int nr, const std::string& table) const {
  std::vector<TRecord> out;
  const std::string path = Fibu(nr) + table;
  const std::int16_t area = xb_Use(path.c_str(), "READBACK", XB_MODE_READONLY, XB_DRIVER_FOX);
  EXPECT_NE(area, 0) << path << ": " << xb_LastError();
  if (area == 0) return out;
  xb_SetOrder(0);
  const int count = xb_FieldCount();
  std::vector<char> buf(static_cast<std::size_t>(xb_RecSize()) + 1);
  for (std::int32_t rec = 1; rec <= xb_RecCount(); ++rec) {
    xb_Go(rec);
    xb_GetRecord(buf.data());
    TRecord r;
    for (int f = 1; f <= count; ++f) {
      const std::string name = xb_FieldName(static_cast<std::int16_t>(f));
      const int off = xb_FieldOffset(name.c_str()) - 1;
      const int width = xb_FieldWidth(name.c_str());
      std::string text(buf.data() + off, static_cast<std::size_t>(width));
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (std::string(xb_FieldType(name.c_str())) == "N")
        while (!text.empty() && text.front() == ' ') text.erase(text.begin());
      r[name] = platform::Win1252ToUtf8(text);
    }
    r["_DELETED"] = buf[0] == '*' ? "*" : "";
    out.push_back(std::move(r));
  }
  xb_Close();
  return out;
}

TRecord TEngineTest::FindKonto(int nr, std::int32_t kntNr) const {
  for (TRecord& r : ReadTable(nr, "konto.dbf"))
    if (std::atoi(r["KNT_NR"].c_str()) == kntNr) return r;
  return {};
}

TRecord TEngineTest::FindKey(int nr, std::int32_t id) const {
  for (TRecord& r : ReadTable(nr, "steuersatz.dbf"))
    if (std::atoi(r["ID"].c_str()) == id) return r;
  return {};
}

std::string TEngineTest::CheckIndexes(int nr, const std::string& table) const {
  const std::string path = Fibu(nr) + table;
  const std::int16_t area = xb_Use(path.c_str(), "CHECK", XB_MODE_READONLY, XB_DRIVER_FOX);
  if (area == 0) return std::string("not opened: ") + xb_LastError();
  std::string result = xb_CheckIndexes() ? "" : xb_LastError();
  xb_Close();
  return result;
}

int TEngineTest::FtsCount(int nr) const {
  const std::string path = Fibu(nr) + "konto.TS1";
  const std::int32_t h = FtsOpen(path.c_str(), 0, FTS_MODE_READONLY);
  EXPECT_GE(h, 0) << path;
  if (h < 0) return -1;
  const std::int32_t n = FtsNumRecs(h);
  FtsClose(h);
  return n;
}

std::vector<int> TEngineTest::FtsSearch(int nr, const std::string& query) const {
  std::vector<int> out;
  const std::string path = Fibu(nr) + "konto.TS1";
  const std::int32_t h = FtsOpen(path.c_str(), 0, FTS_MODE_READONLY);
  EXPECT_GE(h, 0) << path;
  if (h < 0) return out;
  const std::string ansi = platform::Utf8ToWin1252Lossy(query);
  if (FtsVerify(h, ansi.c_str(), nullptr, FTS_VAND) > 0)
    for (std::int32_t rec = FtsNextRec(h); rec > 0; rec = FtsNextRec(h)) out.push_back(rec);
  FtsClose(h);
  return out;
}

}  // namespace conversion::testing
