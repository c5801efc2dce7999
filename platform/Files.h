#pragma once
// Whole-file reads and atomic writes. A write goes to a temporary file beside
// the target, is flushed to disk and renamed over it, so a crash or a full
// disk never leaves a half-written file under the real name.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The OS error text of errno value `err` (English, as strerror gives it).
std::string ErrorText(int err);

// False with *error set ("<path>: <reason>") when the file cannot be read.
bool ReadWholeFile(std::string_view path, std::string& out, std::string* error = nullptr,
                   int* errnoOut = nullptr);

// Replaces `path` atomically with `data`. The new file keeps the mode of the
// file it replaces (0666 & ~umask for a new file). False with *error set on
// any failure; the old file is then untouched and no temporary file remains.
bool WriteFileAtomic(std::string_view path, std::string_view data, std::string* error = nullptr,
                     int* errnoOut = nullptr);

// Copies `from` to `to` through a temporary file in the destination folder
// (flushed, then renamed), overwriting `to`. Keeps the source's mode and
// modification time.
bool CopyFileAtomic(std::string_view from, std::string_view to, std::string* error = nullptr,
                    int* errnoOut = nullptr);

// A new, empty file beside `target` under a hidden temporary name (like
// the ones the atomic writes above use), removed when the object dies
// unless it has replaced the target: a large file can be built in place of
// another without holding it in memory, and scratch data can live beside it.
class TempFileBeside {
 public:
  TempFileBeside() = default;
  ~TempFileBeside() { Remove(); }
  TempFileBeside(const TempFileBeside&) = delete;
  TempFileBeside& operator=(const TempFileBeside&) = delete;

  // Creates the file with the mode of `target` (0666 & ~umask when that is
  // missing). False with *error set.
  bool Create(std::string_view target, std::string* error = nullptr);
  // Creates a file for scratch data beside `beside`, readable and writable
  // by this user alone whatever the mode of `beside` (a read-only index can
  // still be checked); it never replaces anything.
  bool CreateScratch(std::string_view beside, std::string* error = nullptr);
  // Empty before Create and after ReplaceTarget or Remove.
  const std::string& Path() const { return path_; }
  // Makes the file a copy of `from` (not yet flushed).
  bool CopyFrom(std::string_view from, std::string* error = nullptr);
  // Renames the file over the target and flushes the folder; the caller
  // has flushed and closed it. The file is then no longer this object's.
  bool ReplaceTarget(std::string* error = nullptr);
  void Remove();

 private:
  bool Make(std::string_view target, bool scratch, std::string* error);
  std::string path_, target_;
};

// Flushes a directory entry change (rename, create) to disk.
bool SyncDirectory(std::string_view dir);

bool RemoveFile(std::string_view path, std::string* error = nullptr);
bool MakeDirectories(std::string_view dir, std::string* error = nullptr);
std::int64_t FileSize(std::string_view path);  // -1 when missing

// A new, empty folder of this user's in the temporary directory ($TMPDIR,
// else /tmp) whose name begins with `prefix`; its path without a trailing
// separator, or empty with *error set.
std::string MakeTempDirectory(std::string_view prefix, std::string* error = nullptr);
// Deletes a folder with everything in it; a missing folder is no error.
bool RemoveTree(std::string_view dir, std::string* error = nullptr);

}  // namespace platform
