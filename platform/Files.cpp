#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/Paths.h"

namespace platform {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { int f = fd_; fd_ = -1; return f; }
 private:
  int fd_;
};

bool Fail(std::string* error, int* errnoOut, std::string_view path, int err) {
  if (errnoOut) *errnoOut = err;
  if (error) *error = std::string(path) + ": " + ErrorText(err);
  return false;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string TempNameBeside(std::string_view path) {
  static std::mt19937_64 rng{std::random_device{}()};
  const std::string dir = DirectoryPart(path);
  return dir + "." + FileNamePart(path) + ".tmp" + std::to_string(::getpid()) + "_" +
         std::to_string(rng() % 1000000000ULL);
}

// Writes a temporary file beside `path` by calling fill(fd), then renames.
template <class Fill>
bool ReplaceVia(std::string_view path, mode_t mode, Fill fill, std::string* error, int* errnoOut) {
  const std::string target(path);
  const std::string tmp = TempNameBeside(target);
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd.get() < 0) return Fail(error, errnoOut, target, errno);
  if (!fill(fd.get()) || ::fsync(fd.get()) != 0) {
    const int err = errno ? errno : EIO;
    ::unlink(tmp.c_str());
    return Fail(error, errnoOut, target, err);
  }
  ::fchmod(fd.get(), mode);
  if (::close(fd.release()) != 0 || ::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Fail(error, errnoOut, target, err);
  }
  const std::string dir = DirectoryPart(target);
  SyncDirectory(dir.empty() ? "." : dir);
  return true;
}

}  // namespace

std::string ErrorText(int err) {
  char buf[256];
  return std::string(strerror_r(err, buf, sizeof buf));
}

bool ReadWholeFile(std::string_view path, std::string& out, std::string* error, int* errnoOut) {
  Fd fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return Fail(error, errnoOut, path, errno);
  out.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, errnoOut, path, errno);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

bool WriteFileAtomic(std::string_view path, std::string_view data, std::string* error,
                     int* errnoOut) {
  mode_t mode = 0666;
  struct stat st {};
  if (::stat(std::string(path).c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode &= ~mask;
  }
  return ReplaceVia(path, mode, [&](int fd) { return WriteAll(fd, data); }, error, errnoOut);
}

bool CopyFileAtomic(std::string_view from, std::string_view to, std::string* error,
                    int* errnoOut) {
  Fd src(::open(std::string(from).c_str(), O_RDONLY | O_CLOEXEC));
  if (src.get() < 0) return Fail(error, errnoOut, from, errno);
  struct stat st {};
  if (::fstat(src.get(), &st) != 0) return Fail(error, errnoOut, from, errno);
  const bool ok = ReplaceVia(
      to, st.st_mode & 07777,
      [&](int fd) {
        char buf[1 << 16];
        for (;;) {
          const ssize_t n = ::read(src.get(), buf, sizeof buf);
          if (n < 0) {
            if (errno == EINTR) continue;
            return false;
          }
          if (n == 0) break;
          if (!WriteAll(fd, std::string_view(buf, static_cast<std::size_t>(n)))) return false;
        }
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(fd, times);
        return true;
      },
      error, errnoOut);
  return ok;
}

bool TempFileBeside::Create(std::string_view target, std::string* error) {
  return Make(target, false, error);
}

bool TempFileBeside::CreateScratch(std::string_view beside, std::string* error) {
  return Make(beside, true, error);
}

bool TempFileBeside::Make(std::string_view target, bool scratch, std::string* error) {
  Remove();
  const std::string t(target);
  struct stat st {};
  const bool exists = !scratch && ::stat(t.c_str(), &st) == 0;
  const mode_t mode = scratch ? 0600 : exists ? st.st_mode & 07777 : 0666;
  for (int attempt = 0;; ++attempt) {
    const std::string tmp = TempNameBeside(t);
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.get() < 0) {
      if (errno == EEXIST && attempt < 100) continue;
      return Fail(error, nullptr, t, errno);
    }
    if (exists) ::fchmod(fd.get(), mode);
    path_ = tmp;
    target_ = scratch ? std::string() : t;
    return true;
  }
}

bool TempFileBeside::CopyFrom(std::string_view from, std::string* error) {
  Fd src(::open(std::string(from).c_str(), O_RDONLY | O_CLOEXEC));
  if (src.get() < 0) return Fail(error, nullptr, from, errno);
  Fd dst(::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (dst.get() < 0) return Fail(error, nullptr, path_, errno);
  std::vector<char> buf(std::size_t{1} << 20);
  for (;;) {
    const ssize_t n = ::read(src.get(), buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, nullptr, from, errno);
    }
    if (n == 0) break;
    if (!WriteAll(dst.get(), std::string_view(buf.data(), static_cast<std::size_t>(n))))
      return Fail(error, nullptr, path_, errno);
  }
  if (::close(dst.release()) != 0) return Fail(error, nullptr, path_, errno);
  return true;
}

bool TempFileBeside::ReplaceTarget(std::string* error) {
  if (::rename(path_.c_str(), target_.c_str()) != 0) return Fail(error, nullptr, target_, errno);
  path_.clear();
  const std::string dir = DirectoryPart(target_);
  SyncDirectory(dir.empty() ? "." : dir);
  return true;
}

void TempFileBeside::Remove() {
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

bool SyncDirectory(std::string_view dir) {
  Fd fd(::open(std::string(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

bool RemoveFile(std::string_view path, std::string* error) {
  if (::unlink(std::string(path).c_str()) == 0 || errno == ENOENT) return true;
  return Fail(error, nullptr, path, errno);
}

bool MakeDirectories(std::string_view dir, std::string* error) {
  std::string d = NativeSeparators(dir);
  while (d.size() > 1 && d.back() == kPathSep) d.pop_back();
  if (d.empty() || DirectoryExists(d)) return true;
  const std::string parent = DirectoryPart(d);
  if (!parent.empty() && parent != "/" && !MakeDirectories(parent, error)) return false;
  if (::mkdir(d.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(d))) return true;
  return Fail(error, nullptr, d, errno);
}

std::int64_t FileSize(std::string_view path) {
  struct stat st {};
  if (::stat(std::string(path).c_str(), &st) != 0) return -1;
  return st.st_size;
}

std::string MakeTempDirectory(std::string_view prefix, std::string* error) {
  const char* env = std::getenv("TMPDIR");
  std::string base = env && *env ? env : "/tmp";
  while (base.size() > 1 && base.back() == kPathSep) base.pop_back();
  std::string pattern = base + kPathSep + std::string(prefix) + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Fail(error, nullptr, base, errno);
    return {};
  }
  return pattern;
}

bool RemoveTree(std::string_view dir, std::string* error) {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(std::string(dir)), ec);
  if (!ec) return true;
  return Fail(error, nullptr, dir, ec.value());
}

}  // namespace platform
