#pragma once
// The conversion engine: the Mandanten of the installation with their
// selection and outcome, the account definitions of both charts, the checks
// that decide whether a Mandant can be converted, the creation of the new
// tax keys and the update of the chart of accounts.
//
// Every operation returns a Boolean and leaves one German text in
// FLastError; exceptions of the table layer and the file system are caught
// at the operation's boundary. The engine shows no messages itself.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FileViewer.h"
#include "Grid.h"
#include "ListBox.h"
#include "Ust2020Defs.h"
#include "Ust2020Konto.h"

class TQORUSt2020Table;
namespace hostenv {
class TZeMandanten;
}

namespace conversion {

// The state of one Mandant in this program run.
class TQORUSt2020Mandant {
 public:
  TQORUSt2020Mandant() = default;
  void ClearProtokolle();

  std::array<std::vector<std::string>, 9> Protokolle;  // log sections, ProtokollTitles
  bool IsExcluded = false;       // not selected for conversion
  bool WasConverted = false;     // its tax keys carry the conversion mark; never reset
  bool IsDone = false;           // converted since the program started
  std::string UpdateError;       // why its run failed
  bool Restored = false;         // both tables restored after the failed run
  bool ProtokollOpened = false;  // the user opened its log
};

class TQORUSt2020Obj {
 public:
  // Builds the Mandant directory from the host options (ZeOptions must exist).
  TQORUSt2020Obj();
  ~TQORUSt2020Obj();
  TQORUSt2020Obj(const TQORUSt2020Obj&) = delete;
  TQORUSt2020Obj& operator=(const TQORUSt2020Obj&) = delete;

  TQORUSt2020Mandant& MandantAt(int ANr);
  std::string MandantName(int ANr) const;
  std::string GetLastError() const;
  std::string LastError() const { return GetLastError(); }
  int GetMandantCount() const;
  int MandantCount() const { return GetMandantCount(); }
  bool IsMandantExcluded(int ANr) const;
  bool WasMandantConverted(int ANr) const;
  bool IsMandantDone(int ANr) const;
  void SetExcluded(int ANr, bool AValue);

  bool ActivateMandant(int ANr);
  // A closed table object of kind 0 (steuersatz.dbf) or 1 (konto.dbf, with
  // its full-text index over BEZ) in the active Mandant's accounting
  // directory, for exclusive use. Table-layer errors pass to the caller.
  std::unique_ptr<TQORUSt2020Table> CreateTable(int AKind);
  bool CheckMandanten(bool ADoCheckSKR);

  int DoneCount() const;
  bool AllDone() const;
  bool AllShown() const;
  bool AllConverted() const;

  bool FillMandantGrid(TGrid& AGrid);

  // Start-up check of the program directory `APath`: the information text
  // and both definition files.
  bool CheckFiles(const std::string& APath);
  bool CheckAllSSL();
  bool CheckAllKonten();

  // The conversion run over the selected Mandanten, its log and review
  // (Ust2020Run.cpp, Ust2020Protokoll.cpp). Either list may be absent.
  bool UpdateAll(TListBox* ALB1, TListBox* ALB2);
  bool FillProtokollGrid(TGrid& AGrid);
  bool OpenProtokoll(int ANr);
  // The viewer OpenProtokoll hands the log to; none means opening fails.
  void SetFileViewer(TFileViewer* AViewer) { FFileViewer = AViewer; }
  // Copies the Mandant's backup of both tables back over the live files,
  // as a failed run does (tax keys first, accounts only when that worked).
  bool RestoreMandant(int ANr);
  // The log file of the active Mandant ("SAVE_USt2020/USt2020Prot.txt").
  std::string ProtokollFileName();

  // Makes every table, backup and log of a Mandant whose accounting
  // directory is `AHostDir` (as the host gives it) come from `ADir` instead:
  // a preview converts copies of the tables there. An empty `ADir` removes
  // the redirection.
  void RedirectFibuDir(const std::string& AHostDir, const std::string& ADir);

  // The account definitions of a chart (false SKR03, true SKR04).
  const TKontoList& Konten(bool ASKR04) const { return FKonten[ASKR04 ? 1 : 0]; }

 private:
  friend class TQORUSt2020ObjTestAccess;

  // Shared by the rules; the Mandant must be active.
  std::string ActiveSKR();
  bool IsSKR04();
  static std::string SSLFieldName(int n);
  static int LastSSLSlot(TQORUSt2020Table& ATable);
  static std::string CurrentSSL(TQORUSt2020Table& ATable);

  bool LoadKonten(const std::string& APath, bool ASKR04);
  bool CreateSSL(int ANr);
  bool UpdateKonten(int ANr);
  bool CheckSSL(int ANr);
  bool CheckKonten(int ANr);

  // The conversion run, backup and log (implemented beside the run).
  bool UpdateMandant(int ANr, TListBox* ALB);
  bool BackupMandantTable(int ANr, int AKind);
  bool RestoreMandantTable(int ANr, int AKind);
  bool WriteProtokoll(int ANr);

  // "Mandant <name>: " in front of a message about one Mandant.
  std::string MandantPrefix(int ANr) const;
  // The accounting directory of the active Mandant, redirected if asked.
  std::string FibuDir() const;
  // The path named in "Datenbank ... nicht gefunden".
  std::string TablePathForMessage(int AKind) const;
  bool TableFileExists(TQORUSt2020Table& ATable) const;
  bool RunKontenPasses(TQORUSt2020Table& ATable, TQORUSt2020Mandant& AMandant);

  std::unique_ptr<hostenv::TZeMandanten> FMandanten;
  std::vector<std::unique_ptr<TQORUSt2020Mandant>> FMandantList;
  std::string FLastError;
  std::array<TKontoList, 2> FKonten;
  TFileViewer* FFileViewer = nullptr;
  std::map<std::string, std::string> FFibuRedirects;
};

}  // namespace conversion
