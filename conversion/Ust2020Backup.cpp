// Backup and restore of a Mandant's tables in "SAVE_USt2020" beside them.
//
// The table file is copied last, each file through a temporary name that is
// renamed when complete: a backup folder holding the table file therefore
// holds a complete set, and one left behind by a cancel, a failure or a
// crash lacks it and is filled again by the next backup.
#include <sys/stat.h>

#include <exception>
#include <vector>

#include "QORUSt2020Table.h"
#include "Ust2020Obj.h"
#include "hostenv/DirText.h"
#include "platform/FileOperation.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kBackupFolder = "SAVE_USt2020";
constexpr const char* kBackupError = "Während der Datensicherung ist ein Fehler aufgetreten.";
constexpr const char* kRestoreError = "Während der Wiederherstellung ist ein Fehler aufgetreten.";

// Removes a file, write protection included. False when it stays.
bool DeleteFile(const std::string& path) {
  ::chmod(path.c_str(), 0666);
  return platform::RemoveFile(path) && !platform::FileExists(path);
}

// The entry `name` of `dir`, matched without regard to case; the name as
// given when there is none.
std::string InDir(const std::string& dir, const std::string& name) {
  const auto found = platform::FindNoCase(dir, name);
  return platform::JoinPath(dir, found ? *found : name);
}

}  // namespace

std::string TQORUSt2020Table::GetIndexFileName() const {
  return platform::ResolveNoCase(platform::ChangeExtension(GetTableFileName(), IndexExt()));
}

std::string TQORUSt2020Table::BackupDir() const {
  const std::string dir = platform::NativeSeparators(hostenv::AddBackslash(DatabaseName()));
  return hostenv::AddBackslash(platform::ResolveNoCase(dir + kBackupFolder));
}

bool TQORUSt2020Table::MakeBackup() {
  const std::string backup = BackupDir();
  const std::string table = GetTableFileName();
  const std::string index = GetIndexFileName();
  const std::string fts = GetFTSFileName(0);
  const std::string tableName = platform::FileNamePart(table);
  if (platform::DirectoryExists(backup) && platform::FileExists(InDir(backup, tableName)))
    return true;

  std::vector<std::string> from{index};
  if (platform::FileExists(fts)) from.push_back(fts);
  from.push_back(table);
  std::vector<std::string> to;
  for (const auto& f : from) to.push_back(InDir(backup, platform::FileNamePart(f)));

  for (const auto& t : to) {
    if (platform::FileExists(t) && !DeleteFile(t)) {
      FLastError = kBackupError;
      return false;
    }
  }
  const auto result = platform::ShellFileOp(from, to, platform::FileOpFunc::Copy,
                                            "Sicherung der " + TableName() + "-Datenbank");
  if (!result.ok) {
    FLastError = kBackupError;
    return false;
  }
  return true;
}

bool TQORUSt2020Table::RestoreBackup() {
  const std::string backup = BackupDir();
  const std::string table = GetTableFileName();
  const std::string index = GetIndexFileName();
  const std::string fts = GetFTSFileName(0);

  std::vector<std::string> to{index};
  const std::string backupFts = InDir(backup, platform::FileNamePart(fts));
  if (platform::FileExists(backupFts)) to.push_back(fts);
  to.push_back(table);
  std::vector<std::string> from;
  for (const auto& t : to) from.push_back(InDir(backup, platform::FileNamePart(t)));

  // Without a complete backup the live files are all there is: touch nothing.
  for (const auto& f : from) {
    if (!platform::FileExists(f)) {
      FLastError = kRestoreError;
      return false;
    }
  }
  // Each live file is replaced by renaming the finished copy over it (a
  // write-protected one included), so a failed copy leaves it as it was.
  const auto result = platform::ShellFileOp(from, to, platform::FileOpFunc::Copy,
                                            "Wiederherstellung der " + TableName() + "-Datenbank");
  if (!result.ok) {
    FLastError = kRestoreError;
    return false;
  }
  return true;
}

namespace conversion {

bool TQORUSt2020Obj::BackupMandantTable(int ANr, int AKind) {
  if (!ActivateMandant(ANr)) return false;
  try {
    auto table = CreateTable(AKind);
    if (!table->MakeBackup()) {
      FLastError = MandantPrefix(ANr) + table->FLastError;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

bool TQORUSt2020Obj::RestoreMandantTable(int ANr, int AKind) {
  if (!ActivateMandant(ANr)) return false;
  try {
    auto table = CreateTable(AKind);
    if (!table->RestoreBackup()) {
      FLastError = "Mandant <" + MandantName(ANr) + "> (RestoreBackup): " + table->FLastError;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

bool TQORUSt2020Obj::RestoreMandant(int ANr) {
  return RestoreMandantTable(ANr, 0) && RestoreMandantTable(ANr, 1);
}

}  // namespace conversion
