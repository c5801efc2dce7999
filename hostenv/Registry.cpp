#include "hostenv/Registry.h"

#include <memory>

#include "hostenv/DirText.h"
#include "hostenv/IniFile.h"
#include "hostenv/Locations.h"
#include "hostenv/Version.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/RawFile.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

constexpr const char* kStoreFolder = "ZempaPro";
constexpr const char* kStoreFile = "registry.ini";
// Where a shell would look for the version when the machine value is empty.
constexpr const char* kClassesVersionKey = "Software\\Classes\\Zempa\\Version";
constexpr const char* kDefaultValueName = "@";
constexpr const char* kVirtualStoreKey = "Software\\Classes\\VirtualStore\\MACHINE\\Software\\ZEMPA Pro";
constexpr std::size_t kClassesVersionMax = 63;

std::string StorePath(const std::string& folder) {
  if (folder.empty()) return {};
  return AddBackslash(folder + kStoreFolder) + kStoreFile;
}

std::unique_ptr<TZeRegistry>& Instance() {
  static std::unique_ptr<TZeRegistry> registry;
  return registry;
}

void WriteStoreValue(TIniFile& store, const std::string& section, const std::string& name,
                     const std::string& value) {
  const std::string& path = store.FileName();
  std::string error;
  if (path.empty()) {
    throw ERegistryException("Fehler beim Setzen der Daten für '" + name + "'",
                             "Kein Ort für die Einstellungen gefunden (HOME fehlt)");
  }
  if (!platform::DirectoryExists(platform::DirectoryPart(path)) &&
      !platform::MakeDirectories(platform::DirectoryPart(path), &error)) {
    throw ERegistryException("Fehler beim Setzen der Daten für '" + name + "'", error);
  }
  try {
    store.WriteString(section, name, value);
  } catch (const EIniFileException& e) {
    throw ERegistryException("Fehler beim Setzen der Daten für '" + name + "'",
                             path + ": " + platform::ErrorText(e.ErrorCode()));
  }
}

}  // namespace

TZeRegistry::TZeRegistry()
    : FMachinePath(StorePath(MachineConfigFolder())), FUserPath(StorePath(UserConfigFolder())) {
  FRegHKLM = std::make_unique<TIniFile>(FMachinePath, TIniFile::TEncoding::Utf8);
  FRegHKCU = std::make_unique<TIniFile>(FUserPath, TIniFile::TEncoding::Utf8);
  const std::string common = GetSpecialFolder(CSIDL_COMMON_APPDATA);
  if (!common.empty()) {
    const std::string folder = AddBackslash(common + kStoreFolder);
    if (!platform::DirectoryExists(folder)) platform::MakeDirectories(folder);
    if (platform::DirectoryExists(folder))
      FIniAllUsers = std::make_unique<TIniFile>(folder + "ZempaPro.ini");
  }
}

TZeRegistry::~TZeRegistry() = default;

std::string TZeRegistry::AllUsersIniPath() const {
  return FIniAllUsers ? FIniAllUsers->FileName() : std::string();
}

std::string TZeRegistry::ReadMachine(const std::string& name) const {
  return FRegHKLM->ReadString(ProductKey, name, "");
}

std::string TZeRegistry::ReadUser(const std::string& name) const {
  return FRegHKCU->ReadString(ProductKey, name, "");
}

void TZeRegistry::WriteMachine(const std::string& name, const std::string& value) {
  WriteStoreValue(*FRegHKLM, ProductKey, name, value);
}

void TZeRegistry::WriteUser(const std::string& name, const std::string& value) {
  WriteStoreValue(*FRegHKCU, ProductKey, name, value);
}

void TZeRegistry::MirrorAllUsers(const std::string& name, const std::string& value) {
  if (!FIniAllUsers) return;
  try {
    FIniAllUsers->WriteString("HKLM", name, value);
  } catch (const EIniFileException&) {
    // The mirror only repeats the value; the store write below counts.
  }
}

std::string TZeRegistry::ZempaIni() const {
  std::string v = ReadUser("ZempaIni");
  if (v.empty()) v = ReadMachine("ZempaIni");
  return v.empty() ? std::string("ZEMPA.INI") : v;
}

void TZeRegistry::SetZempaIni(const std::string& value) { WriteUser("ZempaIni", value); }

std::string TZeRegistry::Version() const {
  std::string v = ReadMachine("Version");
  if (v.empty()) {
    v = FRegHKLM->ReadString(kClassesVersionKey, kDefaultValueName, "");
    if (v.size() > kClassesVersionMax) v.clear();
  }
  return v;
}

void TZeRegistry::SetVersion(const std::string& value) {
  MirrorAllUsers("Version", value);
  WriteMachine("Version", value);
}

std::string TZeRegistry::ProgPath() const { return AddBackslash(ReadMachine("ProgPath")); }

void TZeRegistry::SetProgPath(const std::string& value) {
  const std::string stored = DelBackslash(value);
  MirrorAllUsers("ProgPath", stored);
  WriteMachine("ProgPath", stored);
}

std::string TZeRegistry::LoggedIn() const { return ReadUser("LoggedIn"); }

void TZeRegistry::SetLoggedIn(const std::string& value) { WriteUser("LoggedIn", value); }

std::string TZeRegistry::VisibleVersion() const {
  const std::string version = Version();
  const std::string generation = MainVersionLabel;
  std::string text = std::string(ProductName) + " " + generation;
  if (version.compare(0, generation.size(), generation) == 0)
    text += version.substr(generation.size());
  else
    text += " (" + version + ")";
  return text;
}

bool TZeRegistry::IsTerminal() const { return DetectRemoteSession(); }

bool TZeRegistry::TermSrvInstallMode() const { return false; }

bool TZeRegistry::SetSecurity() {
  if (FMachinePath.empty()) return false;
  const std::string folder = platform::DirectoryPart(FMachinePath);
  if (!platform::DirectoryExists(folder) && !platform::MakeDirectories(folder)) return false;
  if (!platform::FileExists(FMachinePath) && !platform::WriteFileAtomic(FMachinePath, ""))
    return false;
  // Writes replace the file through a temporary one beside it, so the folder
  // must be writable for everyone as well as the file.
  return platform::SetFileMode(folder, 0777) && platform::SetFileMode(FMachinePath, 0666);
}

bool TZeRegistry::FixVistaShadowKey() {
  TIniDocument user = FRegHKCU->Load();
  if (!user.SectionExists(kVirtualStoreKey)) return true;
  try {
    for (const auto& key : user.SectionKeys(kVirtualStoreKey)) {
      const auto value = user.Read(kVirtualStoreKey, key);
      WriteMachine(key, value ? *value : std::string());
    }
    FRegHKCU->EraseSection(kVirtualStoreKey);
    return true;
  } catch (const std::exception& e) {
    platform::CurrentUserDialog().ShowMessage(platform::MessageKind::Error, "Fehler", e.what());
    return false;
  }
}

bool DetectRemoteSession() {
  for (const char* name : {"SSH_CONNECTION", "SSH_CLIENT"}) {
    const auto v = platform::GetEnv(name);
    if (v && !v->empty()) return true;
  }
  const auto display = platform::GetEnv("DISPLAY");
  if (!display || display->empty()) return false;
  const auto colon = display->rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display->substr(0, colon);
  return !host.empty() && host != "unix";
}

TZeRegistry& ZeRegistry() {
  if (!Instance()) throw std::logic_error("ZeRegistry ist nicht angelegt");
  return *Instance();
}

bool ZeRegistryExists() { return Instance() != nullptr; }

void CreateZeRegistry() {
  if (!Instance()) Instance() = std::make_unique<TZeRegistry>();
}

void ReleaseZeRegistry() { Instance().reset(); }

}  // namespace hostenv
