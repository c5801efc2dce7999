#pragma once
// TXBEEngine: loads the xBase engine library at run time and binds its
// entries. One instance lives from start-up to shutdown; the table layer
// reaches the bound entries through TXBEEngine::Current().
#include <string>

#include "platform/DynamicLibrary.h"
#include "xbe50.h"

// The engine's entries, one function pointer per entry of XBE_ENTRIES.
struct TXBEEntries {
#define XBE_POINTER(ret, name, params, args) ret(*name) params = nullptr;
  XBE_ENTRIES(XBE_POINTER)
#undef XBE_POINTER
};

class TXBEEngine {
 public:
  // The library's file name, as the error box names it.
  static constexpr const char* kLibraryName = "libxbe50.so";

  // Looks for the library in the program's directory, else the current
  // directory, and loads it from where it is found; when it is in neither,
  // nothing happens (the engine stays unloaded, without a message).
  TXBEEngine();
  // For tests: the two directories searched and the file name looked for.
  TXBEEngine(const std::string& programDir, const std::string& currentDir,
             const std::string& libraryName = kLibraryName);
  ~TXBEEngine();
  TXBEEngine(const TXBEEngine&) = delete;
  TXBEEngine& operator=(const TXBEEngine&) = delete;

  // True at once when loaded. Loads the library found by the constructor and
  // binds every entry; a missing library or entry shows "Unable to load
  // required xBase engine library: libxbe50.so", asks the application to
  // end and returns false.
  bool LoadDLLs();
  void FreeDLLs();

  bool m_bIsLoaded = false;
  const TXBEEntries& Entries() const { return FEntries; }
  // Why the last load failed (the loader's text or the missing entry).
  const std::string& LoadError() const { return FLoadError; }

  // Collation pass-throughs; the engine's default (machine order) holds.
  int16_t SetSystemCollation();
  int16_t SetMachineCollation();
  int16_t AddDudenCollation();
  int16_t AddEtecCollation();
  int32_t GetSystemLocale();
  std::string ViewSystemCharOrder();

  // The instance created last and still alive; null when there is none.
  static TXBEEngine* Current();

 private:
  void Init(const std::string& programDir, const std::string& currentDir,
            const std::string& libraryName);

  platform::DynamicLibrary m_iDllHandle;
  std::string FLibraryPath;  // empty when the library was found nowhere
  std::string FLibraryName;
  TXBEEntries FEntries;
  std::string FLoadError;
  TXBEEngine* FPrevious = nullptr;
};
