#pragma once
// The start-up and shutdown that every module of the suite shares: the kind
// of module from its program file name, the count of running modules, the
// program path and version in the registry store, the control file
// "ZETEMP.INI", the main settings file opened into ZeOptions, the stop when
// the data directories belong to another generation, and the Mandant's style.
// The shutdown takes the module out of the count and clears the login marker
// when it was the last one.
#include <memory>
#include <string>

namespace hostenv {

class TZeCtrlIniFile;

enum class TModuleKind {
  mkModule,   // an ordinary module: counted, environment, last main file
  mkSetup,    // "SETUP*" or "UPDATE*": counted, no environment
  mkSupport,  // "TELVOR.EXE": not counted, environment, always ZEMPA.INI
};

// From the program file's name (directory ignored, compared upper-cased).
// The support tool's name is also recognised without the ".EXE".
TModuleKind ModuleKindOf(const std::string& programFile);

enum class TStartupResult {
  srContinue,  // go on with the program
  srStop,      // the directory versions do not match: end the process
};

// Runs once per process; later calls return the first result. The program
// file defaults to the running one. Registry writes that fail throw (the
// program ends with that error before its window opens).
TStartupResult ModuleStartup(const std::string& programFile = {});

// Runs once after a start-up (also after srStop or a throw). Never throws.
void ModuleShutdown();

// The control file; null outside start-up and shutdown.
TZeCtrlIniFile* ZeCtrlIni();

// What the start-up did, for the shutdown and for tests.
struct TModuleStartupState {
  bool started = false;
  TModuleKind kind = TModuleKind::mkModule;
  bool optionsCreated = false;
  bool counted = false;
  TStartupResult result = TStartupResult::srContinue;
};
const TModuleStartupState& ModuleStartupState();

}  // namespace hostenv
