#pragma once
// The Mandanten of the installation (one "zempa*.ini" each in the program
// directory) and the switch of the active one.
#include <string>
#include <vector>

#include "hostenv/Options.h"

namespace hostenv {

class TZeMandanten {
 public:
  // Enumerates the Mandanten of ZeOptions().ProgPath().
  TZeMandanten();

  std::vector<std::string> MandList;  // display names (at most 12 characters)
  std::vector<std::string> IniList;   // lower-case file names, sorted
  int CurrentMandant = -1;

  // Makes Mandant MandNr the active one. False when other counted modules
  // run (message shown; Ctrl held resets the count) and when the new
  // Mandant's directories belong to another generation (message shown,
  // termination requested, the new file stays active).
  bool ChangeMandant(int MandNr, bool ADoSetStyle);
  std::string GetBaseDirOfMandant(int MandNr, TBaseDirEntries BDE) const;
  void StoreMandant();
  void RenameMandant(int MandNr, const std::string& NewName);
  // Returns the new list position.
  int NewMandant(const std::string& NewName, const std::string& NewIni,
                 const std::string& BaseDir, int CopyIniFrom);
  void DeleteMandant(int MandNr);

  int Count() const { return static_cast<int>(IniList.size()); }

 private:
  void CheckIndex(int MandNr) const;
  std::string IniPath(int MandNr) const;  // resolved without regard to case
  bool IsActive(int MandNr) const;
};

// The display name of list position nr: the entry trimmed, else
// "Mandant " with at least two digits, or "<Standard>" for position 0.
std::string MandantDisplayName(const std::string& listEntry, int nr);

// Case-insensitive order of settings file names ("zempa.ini" before
// "zempa01.ini" before "zempa02.ini").
bool MandantFileLess(const std::string& a, const std::string& b);

}  // namespace hostenv
