#include "DemoInstall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "DemoCharts.h"
#include "DemoTables.h"
#include "hostenv/Version.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace demo {

namespace {

struct TMandantPlan {
  std::string IniName;   // ZEMPA.INI, zempa01.ini, ...
  std::string Name;      // display name, at most 12 characters
  std::string DirName;   // folder of its movement data
  bool SKR04;
};

TMandantPlan PlanOf(int i) {
  static const char* const kNames[] = {"Hauptbetrieb", "Filiale Nord", "", "Bäckerei Süd"};
  TMandantPlan p;
  char buf[32];
  std::snprintf(buf, sizeof buf, "zempa%02d.ini", i);
  p.IniName = i == 0 ? "ZEMPA.INI" : buf;
  if (i < 4) {
    p.Name = kNames[i];
  } else {
    std::snprintf(buf, sizeof buf, "Betrieb %02d", i);
    p.Name = buf;
  }
  std::snprintf(buf, sizeof buf, "M%02d", i);
  p.DirName = buf;
  p.SKR04 = i % 2 == 1;
  return p;
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

void WriteText(const std::string& path, const std::string& utf8Lines) {
  std::string error;
  Check(platform::WriteFileAtomic(path, platform::Utf8ToWin1252Lossy(utf8Lines), &error), error);
}

void MakeDir(const std::string& dir) {
  std::string error;
  Check(platform::MakeDirectories(dir, &error), error);
}

// dir.ini marks a data directory as belonging to this product generation.
void WriteDirIni(const std::string& dir) {
  MakeDir(dir);
  WriteText(platform::JoinPath(dir, "dir.ini"),
            std::string("[Konstanten]\r\nVersion=") + hostenv::MainVersionLabel + "\r\n");
}

}  // namespace

std::string ProgramDirOf(const std::string& ARoot) { return platform::JoinPath(ARoot, "Programm"); }

bool WriteInstallation(const TDemoOptions& AOptionsIn, std::string& AError) {
  try {
    // The settings files name the data directories absolutely: a relative
    // path there would count from the program directory.
    TDemoOptions AOptions = AOptionsIn;
    if (AOptions.Root.empty() || AOptions.Root.front() != platform::kPathSep)
      AOptions.Root = platform::JoinPath(platform::CurrentDirectory(), AOptions.Root);
    Check(AOptions.Mandanten >= 1, "mindestens ein Mandant");
    const std::string prog = ProgramDirOf(AOptions.Root);
    const std::string shared = platform::JoinPath(AOptions.Root, "Daten/Gemeinsam");
    MakeDir(prog);
    WriteText(platform::JoinPath(prog, "ZETEMP.INI"),
              std::string("[Reg]\r\nVersion=") + hostenv::MainVersionLabel + "\r\n");
    WriteText(platform::JoinPath(prog, "USt2020_SKR03.csv"), platform::Win1252ToUtf8(MakeDefinitionFile(false)));
    WriteText(platform::JoinPath(prog, "USt2020_SKR04.csv"), platform::Win1252ToUtf8(MakeDefinitionFile(true)));
    {
      std::string error;
      Check(platform::WriteFileAtomic(platform::JoinPath(prog, "USt2020_Info.rtf"), MakeInfoRtf(), &error), error);
    }
    for (const char* sub : {"Adressen", "Material", "Leistung", "Jumbo", "Floskel", "Forms", "Lager"})
      WriteDirIni(platform::JoinPath(shared, sub));

    for (int i = 0; i < AOptions.Mandanten; ++i) {
      const TMandantPlan plan = PlanOf(i);
      const std::string beweg = platform::JoinPath(AOptions.Root, "Daten/" + plan.DirName);
      const std::string chart = plan.SKR04 ? "SKR04" : "SKR03";
      WriteText(platform::JoinPath(prog, plan.IniName),
                "[Konstanten]\r\nMandant=" + plan.Name +
                    "\r\n\r\n[BasisVerzeichnisse]\r\n"
                    "Adressen=" + shared + "/\r\nStamm=" + shared + "/\r\nFloskeln=" + shared +
                    "/\r\nForms=" + shared + "/\r\nTexte=" + shared + "/\r\nBeweg=" + beweg +
                    "/\r\n\r\n[Defaultwerte]\r\nSKR=" + chart + "\r\n");
      for (const char* sub : {"Daten", "AuftVert", "Lohn", "NKalk"}) WriteDirIni(platform::JoinPath(beweg, sub));
      const std::string fibu = platform::JoinPath(beweg, "Fibu");
      WriteDirIni(fibu);
      WriteText(platform::JoinPath(fibu, "Konto.ini"), "[Konstanten]\r\nSKR=" + chart + "\r\n");
      WriteTaxKeyTable(fibu, MakeTaxKeys(plan.SKR04, AOptions.Foreign67 && i == 1));
      WriteAccountTable(fibu, MakeChart(plan.SKR04, AOptions.Accounts, static_cast<std::uint32_t>(i + 1)),
                        static_cast<std::uint32_t>(i + 1));
    }
    return true;
  } catch (const std::exception& e) {
    AError = e.what();
    return false;
  }
}

}  // namespace demo
