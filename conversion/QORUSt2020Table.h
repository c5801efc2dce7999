#pragma once
// The system's table class: the table component with the full-text indexes
// of the table (the account table keeps one over BEZ beside konto.dbf, keyed
// by physical record number) and the text of its last failure.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xbase/XbDSet.h"

namespace fulltext {
class TFts;
}

struct TFTSInfo {
  std::unique_ptr<fulltext::TFts> FTS;  // owned by the table object
  std::string FTSEvalExpr;    // xBase expression whose value is indexed
};

class TQORUSt2020Table : public TXbTable {
 public:
  TQORUSt2020Table();
  ~TQORUSt2020Table() override;

  // Text of the object's last failure.
  std::string FLastError;
  // One element per full-text index of the table; CreateTable gives the
  // account table one over "BEZ", the tax-key table none.
  std::vector<TFTSInfo> FTSArray;

  // Adds a full-text index (a new, closed TFts) evaluating `evalExpr`.
  void AddFTS(const std::string& evalExpr);

  // Refreshes every full-text index for record aRecNo: replaces its entry
  // when AIsEdit (the label of an existing record changed), appends one
  // otherwise. Opens each index on first need; leaves the engine's record
  // position as it was. Library results are ignored; nothing is reported.
  void UpdateFTS(bool AIsEdit, std::int32_t aRecNo);

  // Closing the table closes its full-text indexes.
  void SetActive(bool value) override;

  // The table file: the database directory (trimmed, with a trailing
  // separator, its case kept) followed by the table name, matched on disk
  // without regard to case.
  std::string GetTableFileName() const;
  // Full-text file i (from 0): the table file with the extension ".TS" + (i + 1),
  // matched on disk without regard to case (konto.TS1 when there is none).
  std::string GetFTSFileName(int i) const;
  // The index file: the table file with the engine's index extension.
  std::string GetIndexFileName() const;

  // Copies the table, its index file and its first full-text file into the
  // backup folder beside the table, once: a complete backup is never
  // refreshed. The table is not opened.
  bool MakeBackup();
  // Copies the backup set back over the live files.
  bool RestoreBackup();
  // The backup folder "SAVE_USt2020" beside the table (with separator).
  std::string BackupDir() const;

 private:
  // Directory + table name as the system forms them, before any matching on disk.
  std::string FormedTableFileName() const;
  void CloseFTS();
};
