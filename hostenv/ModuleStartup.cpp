#include "hostenv/ModuleStartup.h"

#include <exception>

#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "hostenv/MandantStyle.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "hostenv/ZeIniFile.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace hostenv {
namespace {

TModuleStartupState gState;
std::unique_ptr<TZeCtrlIniFile> gCtrlIni;

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

}  // namespace

TModuleKind ModuleKindOf(const std::string& programFile) {
  const std::string name = platform::AsciiUpper(platform::FileNamePart(programFile));
  // The tests run in this order and a later match wins.
  TModuleKind kind = TModuleKind::mkModule;
  if (StartsWith(name, "SETUP") || StartsWith(name, "UPDATE")) kind = TModuleKind::mkSetup;
  if (name == "TELVOR.EXE" || name == "TELVOR") kind = TModuleKind::mkSupport;
  return kind;
}

const TModuleStartupState& ModuleStartupState() { return gState; }

TZeCtrlIniFile* ZeCtrlIni() { return gCtrlIni.get(); }

TStartupResult ModuleStartup(const std::string& programFile) {
  if (gState.started) return gState.result;
  gState = TModuleStartupState{};
  gState.started = true;
  gState.kind = ModuleKindOf(programFile.empty() ? platform::ProgramFile() : programFile);

  // Without a count this module cannot tell whether others run; it then
  // counts nothing and leaves the login marker alone at its end.
  const bool countOpen = OpenModuleCount();

  TZeRegistry& reg = ZeRegistry();
  const bool terminal = reg.IsTerminal();
  gCtrlIni = TZeCtrlIniFile::CreateEx("ZETEMP.INI", terminal, false, false);

  if (gState.kind != TModuleKind::mkSupport && countOpen) {
    AddModule();
    gState.counted = true;
  }
  if (gState.kind == TModuleKind::mkSetup) return gState.result;

  // Directory texts keep their case: Linux file names are case-sensitive.
  const std::string progPath = AddBackslash(HostProgramDirectory());
  reg.SetProgPath(progPath);

  const std::string version = terminal ? std::string()
                                       : gCtrlIni->ReadString("Reg", "Version", "");
  if (version.empty())
    gCtrlIni->WriteString("Reg", "Version", reg.Version());
  else
    reg.SetVersion(version);

  std::string mainIni = "ZEMPA.INI";
  if (gState.kind == TModuleKind::mkModule) {
    mainIni = reg.ZempaIni();
    if (mainIni.empty() || !platform::FindNoCase(progPath, mainIni)) {
      mainIni = "ZEMPA.INI";
      reg.SetZempaIni(mainIni);
    }
  }

  CreateZeOptions();
  gState.optionsCreated = true;
  // A Mandant switch that asks for it applies the new Mandant's style.
  SetMandantStyleHook([](TZeOptions& options, bool) {
    MandantStyle().SetMandantStyle(options, false);
  });
  ZeOptions().SetZempaIni(TZeIniFile::CreateEx(mainIni, terminal, true, false));
  if (!ZeOptions().CheckDirVersions()) {
    gState.result = TStartupResult::srStop;
    return gState.result;
  }
  MandantStyle().SetMandantStyle(ZeOptions(), false);
  return gState.result;
}

void ModuleShutdown() {
  if (!gState.started) return;
  gState.started = false;
  try {
    if (gState.optionsCreated) {
      SetMandantStyleHook({});
      ReleaseZeOptions();
      gState.optionsCreated = false;
    }
  } catch (const std::exception&) {
  }
  if (gState.counted) {
    RemoveModule();
    gState.counted = false;
    try {
      if (GetModuleCount() < 1 && ZeRegistryExists()) ZeRegistry().SetLoggedIn("");
    } catch (const std::exception&) {
      // The marker only mirrors the count; the next login rewrites it.
    }
  }
  gCtrlIni.reset();
  CloseModuleCount();
}

}  // namespace hostenv
