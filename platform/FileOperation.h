#pragma once
// Copying a list of files, each source to its own destination, with a
// progress window the user can cancel. Destination folders are created,
// existing files overwritten. Each file is written under a temporary name
// beside its destination, flushed and renamed, so a crash never leaves a
// truncated file under the real name.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The progress window of a file operation. The wizard shows a window titled
// as given with a Cancel button; tools and tests use their own.
class FileOpProgress {
 public:
  virtual ~FileOpProgress() = default;
  virtual void Start(const std::string& title, std::uint64_t totalBytes) = 0;
  // False when the user cancelled.
  virtual bool Update(std::uint64_t doneBytes, std::uint64_t totalBytes) = 0;
  virtual void Finish() = 0;
};

// Process-wide progress window; none (no window, never cancelled) by default.
FileOpProgress* CurrentFileOpProgress();
void SetFileOpProgress(FileOpProgress* progress);

enum class FileOpFunc { Copy = 2 };

struct FileOpResult {
  bool ok = false;
  bool cancelled = false;
  std::string error;  // what failed, for the log or a message
};

// Copies from[i] to to[i] for every i (the lists must be of equal length).
// Fails when any file was not copied or the user cancelled; files copied
// before the failure stay where they are. The busy cursor of the original
// has no equivalent here.
FileOpResult ShellFileOp(const std::vector<std::string>& from, const std::vector<std::string>& to,
                         FileOpFunc func, const std::string& title,
                         FileOpProgress* progress = CurrentFileOpProgress());

// For tests: fail the n-th chunk write from now on (0 = never).
void InjectCopyFailureAfterChunks(int n);

}  // namespace platform
