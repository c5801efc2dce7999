#include "hostenv/Options.h"

#include <cstdio>
#include <stdexcept>

#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "hostenv/ModuleCount.h"
#include "hostenv/Version.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

constexpr const char* kBaseDirSection = "BasisVerzeichnisse";

struct TBaseDirDef {
  const char* Key;
  const char* Bezeichnung;
};

constexpr TBaseDirDef kBaseDirDefs[BaseDirEntryCount] = {
    {nullptr, ""},
    {"Adressen", "Adressen"},
    {"Stamm", "Stammdaten"},
    {"Floskeln", "Floskeln"},
    {"Forms", "Formulare"},
    {"Texte", "Texte"},
    {"Beweg", "Bewegungsdaten"},
    {"Lager", "Lagerverwaltung"},
    {"User", "Benutzerdaten"},
    {"Global", "globale Konfiguration"},
};

// deTemp and deLocalConfig lie beside the main settings file; their BDE
// entry is not used.
constexpr TDirEntryRec kDirEntries[DirEntryCount] = {
    {bdeBeweg, "Daten"},    {bdeAdr, "Adressen"},  {bdeStamm, "Material"}, {bdeStamm, "Leistung"},
    {bdeStamm, "Jumbo"},    {bdeFlo, "Floskel"},   {bdeForms, "Forms"},    {bdeTexte, "Texte"},
    {bdeBeweg, "AuftVert"}, {bdeLocal, "Info"},    {bdeLocal, "Temp"},     {bdeBeweg, "Fibu"},
    {bdeBeweg, "Lohn"},     {bdeBeweg, "NKalk"},   {bdeLager, "Lager"},    {bdeBeweg, "Fremd"},
    {bdeLocal, "Config"},   {bdeUser, "User"},     {bdeGlobal, "GlobConf"}, {bdeGlobal, "Update"},
    {bdeLocal, "Style"},
};

constexpr TDirEntries kVersionedDirs[] = {deDaten, deAdr,      deMat,  deLst,  deJum,   deFlo,
                                          deForms, deAuftVert, deFibu, deLohn, deNKalk, deLager};

constexpr TOptionDef<bool> kBoolDefs[BoolEntryCount] = {
    {"Konstanten", "UseGlobalConfig", false, lLocalFixed},
    {"Module", "Fibu", true, lGlobalConf},
};
constexpr TOptionDef<std::int32_t> kIntDefs[IntEntryCount] = {
    {"Bautagebuch", "DDEOpen", 0, lLocalConf},
};
constexpr TOptionDef<double> kDoubleDefs[DoubleEntryCount] = {
    {"Defaultwerte", "MwstVoll", 19.0, lGlobalConf},
    {"Defaultwerte", "MwstErm", 7.0, lGlobalConf},
};
constexpr TOptionDef<const char*> kStringDefs[StringEntryCount] = {
    {"Konstanten", "Mandant", "", lGlobalFixed},
    {"Firma", "Name1", "", lGlobalConf},
    {"Firma", "Name2", "", lGlobalConf},
    {"Firma", "Strasse", "", lGlobalConf},
    {"Firma", "PlzOrt", "", lGlobalConf},
};

bool IsGlobalLoc(TEntryLocation loc) { return loc == lGlobalFixed || loc == lGlobalConf; }

std::string GermanNumber(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string text = buf;
  for (char& c : text) {
    if (c == '.') c = ',';
  }
  return text;
}

std::unique_ptr<TZeOptions>& Instance() {
  static std::unique_ptr<TZeOptions> options;
  return options;
}

TMandantStyleHook& StyleHook() {
  static TMandantStyleHook hook;
  return hook;
}

}  // namespace

TZeOptions::TZeOptions() : FProgPath(HostProgramDirectory()) {
  for (int i = 0; i < BoolEntryCount; ++i) FBoolEntries[i] = {kBoolDefs[i].Default, kBoolDefs[i].Loc};
  for (int i = 0; i < IntEntryCount; ++i) FIntEntries[i] = {kIntDefs[i].Default, kIntDefs[i].Loc};
  for (int i = 0; i < DoubleEntryCount; ++i)
    FDoubleEntries[i] = {kDoubleDefs[i].Default, kDoubleDefs[i].Loc};
  for (int i = 0; i < StringEntryCount; ++i)
    FStringEntries[i] = {kStringDefs[i].Default, kStringDefs[i].Loc};
}

TZeOptions::~TZeOptions() = default;

void TZeOptions::SetZempaIni(std::unique_ptr<TZeIniFile> ini) {
  FGlobalIni.reset();
  FZempaIni = std::move(ini);
  Refresh();
}

TZeIniFile* TZeOptions::GlobalIni() const {
  return FGlobalIni ? FGlobalIni.get() : FZempaIni.get();
}

void TZeOptions::SetProgPath(const std::string& value) {
  FProgPath = AddBackslash(platform::NativeSeparators(value));
}

std::string TZeOptions::ResolveBaseDir(const std::string& raw) const {
  std::string dir = platform::NativeSeparators(TrimText(raw));
  // A relative directory counts from the program directory, wherever the
  // process was started.
  if (!dir.empty() && dir.front() != platform::kPathSep) dir = platform::JoinPath(FProgPath, dir);
  return AddBackslash(dir);
}

const char* TZeOptions::BaseDirKey(TBaseDirEntries BDE) { return kBaseDirDefs[BDE].Key; }

std::string TZeOptions::GetBaseDirBezeichnung(TBaseDirEntries BDE) {
  return kBaseDirDefs[BDE].Bezeichnung;
}

TDirEntryRec TZeOptions::GetDirEntryRec(TDirEntries DE) { return kDirEntries[DE]; }

const TOptionDef<const char*>& TZeOptions::StringDef(TStringEntries e) { return kStringDefs[e]; }

std::string TZeOptions::GetBaseDirEntry(TBaseDirEntries BDE) const {
  if (BDE == bdeLocal) return FProgPath;
  const std::string& v = FBaseDirEntries[BDE];
  return v.empty() ? FProgPath : v;
}

void TZeOptions::SetBaseDirEntry(TBaseDirEntries BDE, const std::string& value) {
  if (BDE == bdeLocal) return;
  FBaseDirEntries[BDE] = ResolveBaseDir(value);
  if (FZempaIni) FZempaIni->WriteString(kBaseDirSection, kBaseDirDefs[BDE].Key, DelBackslash(value));
}

std::string TZeOptions::GetDirEntry(TDirEntries DE) const {
  const TDirEntryRec& rec = kDirEntries[DE];
  if (DE == deTemp || DE == deLocalConfig) {
    const std::string dir =
        FZempaIni ? platform::DirectoryPart(FZempaIni->FileName()) : FProgPath;
    return AddBackslash(AddBackslash(dir) + rec.FixedDir);
  }
  return AddBackslash(GetBaseDirEntry(rec.BDE) + rec.FixedDir);
}

std::string TZeOptions::GetAnsiDirEntry(TDirEntries DE) const {
  return platform::Utf8ToWin1252Lossy(GetDirEntry(DE));
}

std::string TZeOptions::SKR() {
  TIniFile konto(platform::ResolveNoCase(GetDirEntry(deFibu) + "Konto.ini"));
  const std::string skr = TrimText(konto.ReadStringCut("Konstanten", "SKR", "", 9));
  if (!skr.empty()) return skr;
  const std::string fallback =
      FZempaIni ? FZempaIni->ReadString("Defaultwerte", "SKR", "SKR03") : std::string("SKR03");
  try {
    konto.WriteString("Konstanten", "SKR", fallback);
  } catch (const EIniFileException&) {
    // No accounting directory yet: the chart is still known for this run.
  }
  return fallback;
}

void TZeOptions::SetSKR(const std::string& value) {
  TZeIniFile konto(GetDirEntry(deFibu) + "Konto.ini");
  konto.WriteString("Konstanten", "SKR", value);
}

std::string TZeOptions::MandantNr() const {
  if (!FZempaIni) return {};
  std::string name = platform::FileNamePart(FZempaIni->FileName());
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  const std::string lower = platform::AsciiLower(name);
  const auto pos = lower.find("zempa");
  if (pos != std::string::npos) name.erase(pos, 5);
  return name;
}

std::string TZeOptions::GetDirVersion(TDirEntries DE) const {
  TIniFile dirIni(platform::ResolveNoCase(GetDirEntry(DE) + "dir.ini"));
  return dirIni.ReadStringCut("Konstanten", "Version", MainVersionLabel, 15);
}

void TZeOptions::SetDirVersion(TDirEntries DE, const std::string& value) {
  for (const TDirEntries d : kVersionedDirs) {
    if (d == DE) {
      TZeIniFile dirIni(GetDirEntry(DE) + "dir.ini");
      dirIni.WriteString("Konstanten", "Version", value);
      return;
    }
  }
}

bool TZeOptions::CheckDirVersions() {
  for (const TDirEntries d : kVersionedDirs) {
    const std::string version = GetDirVersion(d);
    if (version == MainVersionLabel) continue;
    const std::string text = "Das Verzeichnis\r\n" + GetDirEntry(d) +
                             "\r\nentspricht der Zempa-Version " + version +
                             ".\r\nSie benutzen jedoch die Zempa-Version " + MainVersionLabel +
                             ".\r\n\r\nUm Datenverlust zu vermeiden wird das Programm jetzt "
                             "beendet.\r\nBitte führen Sie ein Update durch.";
    const auto answer =
        platform::CurrentUserDialog().ShowMessage(platform::MessageKind::Error, "Fehler", text);
    return answer.ctrlHeld;
  }
  return true;
}

bool TZeOptions::ConnectNetDrive(const std::string& directory) {
  return platform::DirectoryExists(directory);
}

void TZeOptions::Refresh() {
  if (!FZempaIni) return;
  TZeMemIniFile local(FZempaIni->FileName());
  std::unique_ptr<TZeMemIniFile> globalReader;
  const TCustomIniFile* global = &local;

  FBaseDirEntries[bdeLocal] = FProgPath;
  for (int i = 1; i < BaseDirEntryCount; ++i) {
    const auto bde = static_cast<TBaseDirEntries>(i);
    std::string fallback = FProgPath;
    if (bde == bdeLager) fallback = FBaseDirEntries[bdeStamm];
    if (bde == bdeGlobal) fallback = FBaseDirEntries[bdeUser];
    FBaseDirEntries[i] = local.ValueExists(kBaseDirSection, kBaseDirDefs[i].Key)
                             ? ResolveBaseDir(local.ReadString(kBaseDirSection, kBaseDirDefs[i].Key, ""))
                             : fallback;
  }

  if (GetModuleCount() <= 1) {
    for (int i = 0; i < BaseDirEntryCount; ++i) {
      bool seen = false;
      for (int j = 0; j < i; ++j) seen = seen || FBaseDirEntries[j] == FBaseDirEntries[i];
      if (!seen) ConnectNetDrive(FBaseDirEntries[i]);
    }
    for (const TDirEntries d : {deTemp, deLocalConfig, deGlobalConfig})
      platform::MakeDirectories(GetDirEntry(d));
  }

  FGlobalIni.reset();
  const std::string globalDir = GetDirEntry(deGlobalConfig);
  if (platform::DirectoryExists(globalDir)) {
    FGlobalIni = std::make_unique<TZeIniFile>(globalDir + platform::FileNamePart(FZempaIni->FileName()));
    globalReader = std::make_unique<TZeMemIniFile>(FGlobalIni->FileName());
    global = globalReader.get();
    FBoolEntries[beUseGlobalConfig].Data =
        local.ReadBool(kBoolDefs[beUseGlobalConfig].Section, kBoolDefs[beUseGlobalConfig].Key, false);
  }
  const bool useGlobal = FBoolEntries[beUseGlobalConfig].Data;

  auto place = [&](auto& info, const auto& def, auto readGlobal) {
    info.Loc = def.Loc;
    if (!IsGlobalLoc(def.Loc)) return;
    if (useGlobal)
      info.Data = readGlobal(info.Data);
    else
      info.Loc = lLocalForced;
  };

  for (int i = 0; i < BoolEntryCount; ++i) {
    if (i == beUseGlobalConfig) continue;
    const auto& def = kBoolDefs[i];
    FBoolEntries[i].Data = local.ReadBool(def.Section, def.Key, def.Default);
    place(FBoolEntries[i], def, [&](bool v) { return global->ReadBool(def.Section, def.Key, v); });
  }
  for (int i = 0; i < IntEntryCount; ++i) {
    const auto& def = kIntDefs[i];
    FIntEntries[i].Data = local.ReadInteger(def.Section, def.Key, def.Default);
    place(FIntEntries[i], def,
          [&](std::int32_t v) { return global->ReadInteger(def.Section, def.Key, v); });
  }

  // Older files said "DDEOpenTerm=1"; the integer option replaced it.
  if (local.ReadBool("Bautagebuch", "DDEOpenTerm", false)) {
    SetIntEntry(ieBauDDEOpen, 2);
    try {
      FZempaIni->DeleteKey("Bautagebuch", "DDEOpenTerm");
    } catch (const EIniFileException&) {
    }
  }

  for (int i = 0; i < DoubleEntryCount; ++i) {
    const auto& def = kDoubleDefs[i];
    FDoubleEntries[i].Data = local.ReadDouble(def.Section, def.Key, def.Default);
    place(FDoubleEntries[i], def, [&](double v) { return global->ReadDouble(def.Section, def.Key, v); });
  }
  for (int i = 0; i < StringEntryCount; ++i) {
    const auto& def = kStringDefs[i];
    FStringEntries[i].Data = local.ReadString(def.Section, def.Key, def.Default);
    place(FStringEntries[i], def,
          [&](const std::string& v) { return global->ReadString(def.Section, def.Key, v); });
  }

  FStyleIni = std::make_unique<TZeIniFile>(GetDirEntry(deStyle) + "style.ini");
}

void TZeOptions::WriteOption(TEntryLocation loc, const char* section, const char* key,
                             const std::string& value) {
  if (!FZempaIni) return;
  FZempaIni->WriteString(section, key, value);
  if (IsGlobalLoc(loc) && FGlobalIni) {
    try {
      FGlobalIni->WriteStringPlain(section, key, value);
    } catch (const EIniFileException&) {
      // The global copy only mirrors the value.
    }
  }
}

bool TZeOptions::GetBoolEntry(TBoolEntries e) const { return FBoolEntries[e].Data; }
void TZeOptions::SetBoolEntry(TBoolEntries e, bool value) {
  FBoolEntries[e].Data = value;
  WriteOption(FBoolEntries[e].Loc, kBoolDefs[e].Section, kBoolDefs[e].Key, value ? "1" : "0");
}
std::int32_t TZeOptions::GetIntEntry(TIntEntries e) const { return FIntEntries[e].Data; }
void TZeOptions::SetIntEntry(TIntEntries e, std::int32_t value) {
  FIntEntries[e].Data = value;
  WriteOption(FIntEntries[e].Loc, kIntDefs[e].Section, kIntDefs[e].Key, std::to_string(value));
}
double TZeOptions::GetDoubleEntry(TDoubleEntries e) const { return FDoubleEntries[e].Data; }
void TZeOptions::SetDoubleEntry(TDoubleEntries e, double value) {
  FDoubleEntries[e].Data = value;
  WriteOption(FDoubleEntries[e].Loc, kDoubleDefs[e].Section, kDoubleDefs[e].Key, GermanNumber(value));
}
std::string TZeOptions::GetStringEntry(TStringEntries e) const { return FStringEntries[e].Data; }
void TZeOptions::SetStringEntry(TStringEntries e, const std::string& value) {
  FStringEntries[e].Data = value;
  WriteOption(FStringEntries[e].Loc, kStringDefs[e].Section, kStringDefs[e].Key, value);
}

TZeOptions& ZeOptions() {
  if (!Instance()) throw std::logic_error("ZeOptions ist nicht angelegt");
  return *Instance();
}

bool ZeOptionsExists() { return Instance() != nullptr; }

void CreateZeOptions() {
  if (!Instance()) Instance() = std::make_unique<TZeOptions>();
}

void ReleaseZeOptions() { Instance().reset(); }

void SetMandantStyleHook(TMandantStyleHook hook) { StyleHook() = std::move(hook); }

void ApplyMandantStyle(bool AForce) {
  if (StyleHook() && Instance()) StyleHook()(*Instance(), AForce);
}

}  // namespace hostenv
