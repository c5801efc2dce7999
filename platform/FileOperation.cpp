#include "platform/FileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace platform {
namespace {

FileOpProgress* g_progress = nullptr;
int g_failAfterChunks = 0;

constexpr std::size_t kChunk = 1 << 20;

struct FdGuard {
  int fd = -1;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
};

// Copies up to one chunk from `src` to `dst` at their file positions and
// returns the bytes copied (0 at the end, -1 with errno). The kernel copies
// without a detour through this process where it can; a file system or
// kernel that cannot switches the copy to read and write for good.
ssize_t CopyChunk(int src, int dst, std::vector<char>& buf, bool& inKernel) {
  while (inKernel) {
    const ssize_t n = ::copy_file_range(src, nullptr, dst, nullptr, kChunk, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF)
      return -1;
    inKernel = false;
  }
  buf.resize(kChunk);
  ssize_t n;
  do {
    n = ::read(src, buf.data(), buf.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return n;
  for (ssize_t off = 0; off < n;) {
    const ssize_t w = ::write(dst, buf.data() + off, static_cast<std::size_t>(n - off));
    if (w < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    off += w;
  }
  return n;
}

// Copies one file through a temporary name beside `to`. `done` counts
// bytes across the whole operation for the progress window.
bool CopyOne(const std::string& from, const std::string& to, FileOpProgress* progress,
             std::uint64_t& done, std::uint64_t total, FileOpResult& result) {
  FdGuard src;
  src.fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (src.fd < 0 || ::fstat(src.fd, &st) != 0) {
    result.error = from + ": " + ErrorText(errno);
    return false;
  }
  const std::string dir = DirectoryPart(to);
  if (!dir.empty() && !MakeDirectories(dir, &result.error)) return false;
  const std::string tmp = (dir.empty() ? std::string() : dir) + "." + FileNamePart(to) + ".copying";
  ::unlink(tmp.c_str());
  FdGuard dst;
  dst.fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
  if (dst.fd < 0) {
    result.error = to + ": " + ErrorText(errno);
    return false;
  }
  auto fail = [&](int err) {
    result.error = to + ": " + ErrorText(err);
    ::close(dst.fd);
    dst.fd = -1;
    ::unlink(tmp.c_str());
    return false;
  };
  std::vector<char> buf;
  bool inKernel = true;
  std::uint64_t copied = 0;
  for (;;) {
    const ssize_t n = CopyChunk(src.fd, dst.fd, buf, inKernel);
    if (n < 0) return fail(errno);
    if (n == 0) {
      // Some file systems report the end to copy_file_range too early; a
      // plain read decides whether the file really ends here.
      if (inKernel && copied < static_cast<std::uint64_t>(st.st_size)) {
        inKernel = false;
        continue;
      }
      break;
    }
    copied += static_cast<std::uint64_t>(n);
    if (g_failAfterChunks > 0 && --g_failAfterChunks == 0) return fail(ENOSPC);
    done += static_cast<std::uint64_t>(n);
    if (progress && !progress->Update(done, total)) {
      result.cancelled = true;
      result.error = "cancelled";
      ::close(dst.fd);
      dst.fd = -1;
      ::unlink(tmp.c_str());
      return false;
    }
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(dst.fd, times);
  ::fchmod(dst.fd, st.st_mode & 07777);
  if (::fsync(dst.fd) != 0) return fail(errno);
  if (::close(dst.fd) != 0) {
    dst.fd = -1;
    const int err = errno;
    ::unlink(tmp.c_str());
    result.error = to + ": " + ErrorText(err);
    return false;
  }
  dst.fd = -1;
  if (::rename(tmp.c_str(), to.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    result.error = to + ": " + ErrorText(err);
    return false;
  }
  SyncDirectory(dir.empty() ? "." : dir);
  return true;
}

}  // namespace

FileOpProgress* CurrentFileOpProgress() { return g_progress; }
void SetFileOpProgress(FileOpProgress* progress) { g_progress = progress; }
void InjectCopyFailureAfterChunks(int n) { g_failAfterChunks = n; }

FileOpResult ShellFileOp(const std::vector<std::string>& from, const std::vector<std::string>& to,
                         FileOpFunc func, const std::string& title, FileOpProgress* progress) {
  FileOpResult result;
  if (func != FileOpFunc::Copy || from.size() != to.size()) {
    result.error = "invalid file operation";
    return result;
  }
  std::uint64_t total = 0;
  for (const auto& f : from) {
    const auto s = FileSize(f);
    if (s > 0) total += static_cast<std::uint64_t>(s);
  }
  if (progress) progress->Start(title, total);
  std::uint64_t done = 0;
  bool ok = true;
  for (std::size_t i = 0; i < from.size() && ok; ++i) {
    ok = CopyOne(from[i], to[i], progress, done, total, result);
    if (ok && progress && !progress->Update(done, total)) {
      result.cancelled = true;
      result.error = "cancelled";
      ok = false;
    }
  }
  if (progress) progress->Finish();
  result.ok = ok;
  return result;
}

}  // namespace platform
