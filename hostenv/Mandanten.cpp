#include "hostenv/Mandanten.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "hostenv/Application.h"
#include "hostenv/DirText.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Registry.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

constexpr std::size_t kNameChars = 12;  // the host reads names into 13 characters
constexpr std::size_t kBaseDirChars = 159;

bool MatchesPattern(const std::string& name) {
  const std::string lower = platform::AsciiLower(name);
  return lower.size() >= 9 && lower.compare(0, 5, "zempa") == 0 &&
         lower.compare(lower.size() - 4, 4, ".ini") == 0;
}

bool IsRemote() { return ZeRegistryExists() ? ZeRegistry().IsTerminal() : DetectRemoteSession(); }

}  // namespace

bool MandantFileLess(const std::string& a, const std::string& b) {
  const std::string la = platform::AsciiLower(a), lb = platform::AsciiLower(b);
  if (la != lb) return la < lb;
  return a < b;
}

std::string MandantDisplayName(const std::string& listEntry, int nr) {
  const std::string name = TrimText(listEntry);
  if (!name.empty()) return name;
  if (nr == 0) return "<Standard>";
  char buf[32];
  std::snprintf(buf, sizeof buf, "Mandant %02d", nr);
  return buf;
}

TZeMandanten::TZeMandanten() {
  const std::string dir = ZeOptions().ProgPath();
  for (const auto& name : platform::ListDirectory(dir)) {
    // Only ordinary files count; a name beginning with "." (hidden on
    // Linux) cannot match the pattern.
    if (MatchesPattern(name) && platform::IsRegularFile(dir + name))
      IniList.push_back(platform::AsciiLower(name));
  }
  std::sort(IniList.begin(), IniList.end(), MandantFileLess);
  // Two files that differ only in case would give one name twice.
  IniList.erase(std::unique(IniList.begin(), IniList.end()), IniList.end());
  for (std::size_t i = 0; i < IniList.size(); ++i) {
    TIniFile ini(IniPath(static_cast<int>(i)));
    MandList.push_back(ini.ReadStringCut("Konstanten", "Mandant", "", kNameChars));
  }
  CurrentMandant = -1;
  if (const TZeIniFile* active = ZeOptions().ZempaIni()) {
    const std::string activeName = platform::AsciiLower(platform::FileNamePart(active->FileName()));
    const auto it = std::find(IniList.begin(), IniList.end(), activeName);
    if (it != IniList.end()) CurrentMandant = static_cast<int>(it - IniList.begin());
  }
}

void TZeMandanten::CheckIndex(int MandNr) const {
  if (MandNr < 0 || MandNr >= Count())
    throw std::out_of_range("Listenindex überschreitet das Maximum (" + std::to_string(MandNr) + ")");
}

std::string TZeMandanten::IniPath(int MandNr) const {
  return platform::ResolveNoCase(ZeOptions().ProgPath() + IniList[static_cast<std::size_t>(MandNr)]);
}

bool TZeMandanten::IsActive(int MandNr) const {
  const TZeIniFile* active = ZeOptions().ZempaIni();
  return active && platform::EqualsNoCase(platform::FileNamePart(active->FileName()),
                                          IniList[static_cast<std::size_t>(MandNr)]);
}

bool TZeMandanten::ChangeMandant(int MandNr, bool ADoSetStyle) {
  CheckIndex(MandNr);
  const int modules = GetModuleCount();
  if (modules < 2) {
    ZeOptions().SetZempaIni(
        TZeIniFile::CreateEx(IniList[static_cast<std::size_t>(MandNr)], IsRemote(), true, false));
    // A foreign directory version leaves the new file active but the switch
    // is not reported as made: the caller must not work on that Mandant.
    const bool versionsOk = ZeOptions().CheckDirVersions();
    if (versionsOk)
      CurrentMandant = MandNr;
    else
      Application().RequestTerminate();
    if (ADoSetStyle) ApplyMandantStyle(false);
    return versionsOk;
  }
  std::string text =
      "Das Wechseln des Mandanten ist nur möglich,\r\nwenn alle anderen ZEMPA-Module geschlossen sind.";
  if (InDebugger()) text += " (" + std::to_string(modules) + ")";
  const auto answer =
      platform::CurrentUserDialog().ShowMessage(platform::MessageKind::Error, "Fehler", text);
  if (answer.ctrlHeld) ResetModuleCount();
  return false;
}

std::string TZeMandanten::GetBaseDirOfMandant(int MandNr, TBaseDirEntries BDE) const {
  CheckIndex(MandNr);
  if (IsActive(MandNr)) return ZeOptions().GetBaseDirEntry(BDE);
  const char* key = TZeOptions::BaseDirKey(BDE);
  // bdeLocal has no key: it is the program directory for every Mandant.
  if (!key) return ZeOptions().ProgPath();
  TIniFile ini(IniPath(MandNr));
  return ini.ReadStringCut("BasisVerzeichnisse", key, ZeOptions().ProgPath(), kBaseDirChars);
}

void TZeMandanten::StoreMandant() {
  if (CurrentMandant < 0 || CurrentMandant >= Count()) return;
  ZeRegistry().SetZempaIni(IniList[static_cast<std::size_t>(CurrentMandant)]);
}

void TZeMandanten::RenameMandant(int MandNr, const std::string& NewName) {
  CheckIndex(MandNr);
  MandList[static_cast<std::size_t>(MandNr)] = NewName;
  if (IsActive(MandNr)) {
    ZeOptions().SetStringEntry(seMandant, NewName);
    return;
  }
  TZeIniFile ini(IniPath(MandNr));
  ini.WriteString("Konstanten", "Mandant", NewName);
  const std::string globalDir = ZeOptions().GetDirEntry(deGlobalConfig);
  if (platform::DirectoryExists(globalDir)) {
    try {
      TZeIniFile global(globalDir + IniList[static_cast<std::size_t>(MandNr)]);
      global.WriteStringPlain("Konstanten", "Mandant", NewName);
    } catch (const EIniFileException&) {
      // The global copy only mirrors the name.
    }
  }
}

int TZeMandanten::NewMandant(const std::string& NewName, const std::string& NewIni,
                             const std::string& BaseDir, int CopyIniFrom) {
  const std::string name = platform::AsciiLower(platform::FileNamePart(NewIni));
  const std::string target = ZeOptions().ProgPath() + name;
  if (CopyIniFrom >= 0) {
    CheckIndex(CopyIniFrom);
    std::string error;
    if (!platform::CopyFileAtomic(IniPath(CopyIniFrom), target, &error))
      throw EIniFileException(CannotWriteText(target), 0);
  }
  IniList.push_back(name);
  MandList.push_back(NewName);
  const int nr = Count() - 1;
  RenameMandant(nr, NewName);
  TZeIniFile ini(IniPath(nr));
  for (int i = 1; i < BaseDirEntryCount; ++i) {
    const auto bde = static_cast<TBaseDirEntries>(i);
    const std::string value =
        (bde == bdeUser || bde == bdeGlobal) ? ZeOptions().GetBaseDirEntry(bde) : BaseDir;
    ini.WriteString("BasisVerzeichnisse", TZeOptions::BaseDirKey(bde), DelBackslash(value));
  }
  // The company's text options travel to the new Mandant; its name does not.
  for (int i = 0; i < StringEntryCount; ++i) {
    const auto e = static_cast<TStringEntries>(i);
    if (e == seMandant) continue;
    const auto& def = TZeOptions::StringDef(e);
    ini.WriteString(def.Section, def.Key, ZeOptions().GetStringEntry(e));
  }
  return nr;
}

void TZeMandanten::DeleteMandant(int MandNr) {
  CheckIndex(MandNr);
  std::string error;
  const std::string path = IniPath(MandNr);
  if (platform::FileExists(path) && !platform::RemoveFile(path, &error))
    throw EIniFileException("Die Datei " + path + " kann nicht gelöscht werden", 0);
  IniList.erase(IniList.begin() + MandNr);
  MandList.erase(MandList.begin() + MandNr);
  // Positions behind the deleted one move down; the active Mandant with them.
  if (CurrentMandant == MandNr)
    CurrentMandant = -1;
  else if (CurrentMandant > MandNr)
    --CurrentMandant;
}

}  // namespace hostenv
