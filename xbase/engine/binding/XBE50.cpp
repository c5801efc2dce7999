#include "xbase/engine/binding/XBE50.h"

#include "hostenv/Application.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/UserDialog.h"

namespace {
TXBEEngine*& Latest() {
  static TXBEEngine* engine = nullptr;
  return engine;
}
}  // namespace

TXBEEngine::TXBEEngine() {
  Init(platform::ProgramDirectory(), platform::CurrentDirectory(), kLibraryName);
}

TXBEEngine::TXBEEngine(const std::string& programDir, const std::string& currentDir,
                       const std::string& libraryName) {
  Init(programDir, currentDir, libraryName);
}

void TXBEEngine::Init(const std::string& programDir, const std::string& currentDir,
                      const std::string& libraryName) {
  FLibraryName = libraryName;
  FPrevious = Latest();
  Latest() = this;
  for (const std::string& dir : {programDir, currentDir}) {
    if (dir.empty()) continue;
    const std::string candidate = platform::JoinPath(dir, libraryName);
    if (platform::FileExists(candidate)) {
      FLibraryPath = candidate;
      break;
    }
  }
  if (!FLibraryPath.empty()) LoadDLLs();
}

TXBEEngine::~TXBEEngine() {
  FreeDLLs();
  if (Latest() == this) Latest() = FPrevious;
}

TXBEEngine* TXBEEngine::Current() { return Latest(); }

bool TXBEEngine::LoadDLLs() {
  if (m_bIsLoaded) return true;
  FLoadError.clear();
  bool ok = !FLibraryPath.empty();
  if (!ok) FLoadError = FLibraryName + " was found neither in the program directory nor in the current directory";
  if (ok) ok = m_iDllHandle.Load(FLibraryPath, &FLoadError);
  if (ok) {
    // A missing entry fails the whole load: the table layer calls them blindly.
#define XBE_BIND(ret, name, params, args)                                              \
  if (ok) {                                                                            \
    FEntries.name = reinterpret_cast<ret(*) params>(m_iDllHandle.Symbol(#name));       \
    if (!FEntries.name) {                                                              \
      ok = false;                                                                      \
      FLoadError = FLibraryPath + ": the entry " #name " is missing";                  \
    }                                                                                  \
  }
    XBE_ENTRIES(XBE_BIND)
#undef XBE_BIND
  }
  if (!ok) {
    m_iDllHandle.Unload();
    FEntries = TXBEEntries{};
    platform::CurrentUserDialog().ShowMessage(
        platform::MessageKind::Error, "Error",
        std::string("Unable to load required xBase engine library: ") + kLibraryName);
    hostenv::Application().RequestTerminate();
    return false;
  }
  m_bIsLoaded = true;
  FEntries.xb_SetStringType(1);
  return true;
}

void TXBEEngine::FreeDLLs() {
  FEntries = TXBEEntries{};
  m_iDllHandle.Unload();
  m_bIsLoaded = false;
}

int16_t TXBEEngine::SetSystemCollation() { return m_bIsLoaded ? FEntries.xb_SetSystemCollation() : 0; }
int16_t TXBEEngine::SetMachineCollation() { return m_bIsLoaded ? FEntries.xb_SetMachineCollation() : 0; }
int16_t TXBEEngine::AddDudenCollation() { return m_bIsLoaded ? FEntries.xb_AddDudenCollation() : 0; }
int16_t TXBEEngine::AddEtecCollation() { return m_bIsLoaded ? FEntries.xb_AddEtecCollation() : 0; }
int32_t TXBEEngine::GetSystemLocale() { return m_bIsLoaded ? FEntries.xb_GetSystemLocale() : 0; }
std::string TXBEEngine::ViewSystemCharOrder() {
  return m_bIsLoaded ? std::string(FEntries.xb_ViewSystemCharOrder()) : std::string();
}
