#pragma once
// The options of the active Mandant, read from its main settings file: base
// directories and the directories formed from them, the chart of accounts
// (SKR), the Mandant number, the directory versions and the option families
// the program reads. One process-wide object, ZeOptions().
//
// Directory texts keep the case they are stored with (Linux compares names
// with case). A relative base directory in the settings counts from the
// program directory.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostenv/ZeIniFile.h"

namespace hostenv {

enum TBaseDirEntries {
  bdeLocal, bdeAdr, bdeStamm, bdeFlo, bdeForms, bdeTexte, bdeBeweg, bdeLager, bdeUser, bdeGlobal,
};
inline constexpr int BaseDirEntryCount = bdeGlobal + 1;

enum TDirEntries {
  deDaten, deAdr, deMat, deLst, deJum, deFlo, deForms, deTexte, deAuftVert, deInfo, deTemp,
  deFibu, deLohn, deNKalk, deLager, deFremd, deLocalConfig, deUser, deGlobalConfig, deUpdate,
  deStyle,
};
inline constexpr int DirEntryCount = deStyle + 1;

struct TDirEntryRec {
  TBaseDirEntries BDE;
  const char* FixedDir;
};

enum TEntryLocation { lLocalFixed, lLocalForced, lLocalConf, lGlobalFixed, lGlobalConf };

// Option families: the options this program reads. Each has its definition
// (section, key, default, location) in a table in Options.cpp; a new option
// is one enum value and one table row.
enum TBoolEntries { beUseGlobalConfig, beFibuAktiv, BoolEntryCount };
enum TIntEntries { ieBauDDEOpen, IntEntryCount };
enum TDoubleEntries { deeMwstVoll, deeMwstErm, DoubleEntryCount };
enum TStringEntries { seMandant, seFirma1, seFirma2, seStrasse, sePlzOrt, StringEntryCount };

template <class T>
struct TOptionDef {
  const char* Section;
  const char* Key;
  T Default;
  TEntryLocation Loc;
};

template <class T>
struct TOptionInfo {
  T Data{};
  TEntryLocation Loc = lLocalFixed;
};

class TZeOptions {
 public:
  TZeOptions();  // ProgPath = host program directory; no file read yet
  ~TZeOptions();
  TZeOptions(const TZeOptions&) = delete;
  TZeOptions& operator=(const TZeOptions&) = delete;

  // The active main settings file; null before the first assignment.
  TZeIniFile* ZempaIni() const { return FZempaIni.get(); }
  // Makes `ini` the main settings file and reads every option again.
  void SetZempaIni(std::unique_ptr<TZeIniFile> ini);
  // The global copy of the main settings file, or the main file itself.
  TZeIniFile* GlobalIni() const;
  TZeIniFile* StyleIni() const { return FStyleIni.get(); }

  const std::string& ProgPath() const { return FProgPath; }
  void SetProgPath(const std::string& value);  // stores AddBackslash(value)

  std::string GetDirEntry(TDirEntries DE) const;
  std::string GetAnsiDirEntry(TDirEntries DE) const;  // Windows-1252 bytes
  std::string GetBaseDirEntry(TBaseDirEntries BDE) const;
  void SetBaseDirEntry(TBaseDirEntries BDE, const std::string& value);
  static TDirEntryRec GetDirEntryRec(TDirEntries DE);
  static std::string GetBaseDirBezeichnung(TBaseDirEntries BDE);
  static const char* BaseDirKey(TBaseDirEntries BDE);  // nullptr for bdeLocal

  // The chart of accounts from Konto.ini in the accounting directory; when
  // missing, the main file's "Defaultwerte"/"SKR" (default "SKR03"), which is
  // then written into Konto.ini. Returned trimmed, case as stored.
  std::string SKR();
  void SetSKR(const std::string& value);
  // "zempa12.ini" gives "12", "ZEMPA.INI" "".
  std::string MandantNr() const;

  std::string GetDirVersion(TDirEntries DE) const;
  void SetDirVersion(TDirEntries DE, const std::string& value);
  void SetDirVersions(const std::string&) {}
  // Shows the mismatch message at the first foreign directory; true when all
  // match or the user held Ctrl while closing the message.
  bool CheckDirVersions();

  void Refresh();
  bool UseGlobalConfig() const { return GetBoolEntry(beUseGlobalConfig); }

  bool GetBoolEntry(TBoolEntries e) const;
  void SetBoolEntry(TBoolEntries e, bool value);
  std::int32_t GetIntEntry(TIntEntries e) const;
  void SetIntEntry(TIntEntries e, std::int32_t value);
  double GetDoubleEntry(TDoubleEntries e) const;
  void SetDoubleEntry(TDoubleEntries e, double value);
  std::string GetStringEntry(TStringEntries e) const;
  void SetStringEntry(TStringEntries e, const std::string& value);
  TEntryLocation GetBoolLoc(TBoolEntries e) const { return FBoolEntries[e].Loc; }
  TEntryLocation GetIntLoc(TIntEntries e) const { return FIntEntries[e].Loc; }
  TEntryLocation GetDoubleLoc(TDoubleEntries e) const { return FDoubleEntries[e].Loc; }
  TEntryLocation GetStringLoc(TStringEntries e) const { return FStringEntries[e].Loc; }
  static const TOptionDef<const char*>& StringDef(TStringEntries e);

  // Makes the drive of a directory reachable. Linux mounts have no drive
  // letters to connect: true when the directory exists.
  static bool ConnectNetDrive(const std::string& directory);

 private:
  template <class T>
  bool IsGlobal(const TOptionInfo<T>& info) const {
    return info.Loc == lGlobalFixed || info.Loc == lGlobalConf;
  }
  void WriteOption(TEntryLocation loc, const char* section, const char* key,
                   const std::string& value);
  std::string ResolveBaseDir(const std::string& raw) const;

  std::unique_ptr<TZeIniFile> FZempaIni;
  std::unique_ptr<TZeIniFile> FGlobalIni;  // null: the main file is the global one
  std::unique_ptr<TZeIniFile> FStyleIni;
  std::string FProgPath;
  std::array<std::string, BaseDirEntryCount> FBaseDirEntries;
  std::array<TOptionInfo<bool>, BoolEntryCount> FBoolEntries{};
  std::array<TOptionInfo<std::int32_t>, IntEntryCount> FIntEntries{};
  std::array<TOptionInfo<double>, DoubleEntryCount> FDoubleEntries{};
  std::array<TOptionInfo<std::string>, StringEntryCount> FStringEntries{};
};

// The process-wide options. ZeOptions() throws std::logic_error when absent.
TZeOptions& ZeOptions();
bool ZeOptionsExists();
void CreateZeOptions();
void ReleaseZeOptions();

// Applies the Mandant's visual style after a switch; installed by the style
// code, empty until then.
using TMandantStyleHook = std::function<void(TZeOptions&, bool)>;
void SetMandantStyleHook(TMandantStyleHook hook);
void ApplyMandantStyle(bool AForce);

}  // namespace hostenv
