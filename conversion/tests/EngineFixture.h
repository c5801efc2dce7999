#pragma once
// A host installation in a temporary folder for engine tests: program
// directory with one settings file per Mandant, per Mandant an accounting
// directory with steuersatz.dbf and konto.dbf (written through the engine's
// C interface, not through the code under test), and the engine object over
// it. Tables are read back the same way.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DemoCharts.h"
#include "TestDir.h"
#include "Ust2020Obj.h"
#include "platform/UserDialog.h"
#include "xbase/engine/binding/XBE50.h"

namespace conversion {

// Reaches the rules that the engine keeps private.
class TQORUSt2020ObjTestAccess {
 public:
  static bool CreateSSL(TQORUSt2020Obj& e, int nr) { return e.CreateSSL(nr); }
  static bool UpdateKonten(TQORUSt2020Obj& e, int nr) { return e.UpdateKonten(nr); }
  static bool CheckSSL(TQORUSt2020Obj& e, int nr) { return e.CheckSSL(nr); }
  static bool CheckKonten(TQORUSt2020Obj& e, int nr) { return e.CheckKonten(nr); }
  static bool LoadKonten(TQORUSt2020Obj& e, const std::string& p, bool skr04) { return e.LoadKonten(p, skr04); }
  static std::string ActiveSKR(TQORUSt2020Obj& e) { return e.ActiveSKR(); }
  static bool IsSKR04(TQORUSt2020Obj& e) { return e.IsSKR04(); }
  static std::string SSLFieldName(int n) { return TQORUSt2020Obj::SSLFieldName(n); }
  static int LastSSLSlot(TQORUSt2020Table& t) { return TQORUSt2020Obj::LastSSLSlot(t); }
  static std::string CurrentSSL(TQORUSt2020Table& t) { return TQORUSt2020Obj::CurrentSSL(t); }
};

namespace testing {

using TRecord = std::map<std::string, std::string>;  // field -> text, trailing blanks removed

struct TMandantSpec {
  std::string Name;              // display name in the settings file
  std::string IniName;           // empty: ZEMPA.INI, zempa01.ini, ... by position
  std::string Skr = "SKR03";     // as Konto.ini holds it
  std::vector<demo::TDemoSSL> Keys;
  std::vector<demo::TDemoKonto> Konten;
  bool WithKontoTable = true;
  std::string KontoFields;       // empty: the host's layout
};

// An account as the tests write it: slots from 1 up; slots 2 to 5 dated
// 01.01.2007 when occupied.
demo::TDemoKonto Konto(std::int32_t nr, const std::string& bez, std::vector<std::string> slots,
                       const std::string& flags = "0000000000");
// A host tax key with the given number and label.
demo::TDemoSSL Key(std::int32_t id, const std::string& bez, const std::string& flags = "0010000000");

class TEngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the installation and creates the engine over it.
  void Install(const std::vector<TMandantSpec>& mandanten, const std::string& csv03 = "",
               const std::string& csv04 = "");
  // Runs the engine over an installation written elsewhere; `fibuOf`
  // gives the accounting directory of Mandant nr.
  void UseInstallation(const std::string& progDir, std::function<std::string(int)> fibuOf);
  std::string Fibu(int nr) const;
  std::vector<TRecord> ReadTable(int nr, const std::string& table) const;  // physical order
  TRecord FindKonto(int nr, std::int32_t kntNr) const;
  TRecord FindKey(int nr, std::int32_t id) const;
  // The index check of the engine for every order of the table; empty when sound.
  std::string CheckIndexes(int nr, const std::string& table) const;
  // konto.TS1: its number of entries, and the records whose entry holds
  // every word of `query` (an index text).
  int FtsCount(int nr) const;
  std::vector<int> FtsSearch(int nr, const std::string& query) const;

  TTestDir FRoot;
  std::unique_ptr<TXBEEngine> FXbe;
  platform::RecordingUserDialog FDialog;
  platform::ScopedUserDialog FScopedDialog{FDialog};
  std::string FProg;
  std::unique_ptr<TQORUSt2020Obj> FEngine;
  std::vector<std::pair<std::string, std::string>> FSavedEnv;
  int FMandantCount = 0;
  std::function<std::string(int)> FFibuOf;
};

}  // namespace testing
}  // namespace conversion
