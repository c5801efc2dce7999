#include "platform/RawFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace platform {

RawFile::~RawFile() { Close(); }

RawFile::RawFile(RawFile&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

RawFile& RawFile::operator=(RawFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

bool RawFile::Open(const std::string& path, unsigned mode, std::string* error) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd_ < 0) {
    if (error) *error = path + ": " + ErrorText(errno);
    return false;
  }
  return true;
}

void RawFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RawFile::ReadAt(std::int64_t offset, void* buf, std::size_t n) {
  auto* p = static_cast<char*>(buf);
  std::memset(p, 0, n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

bool RawFile::WriteAt(std::int64_t offset, const void* buf, std::size_t n) {
  const auto* p = static_cast<const char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(r);
  }
  return true;
}

bool DescriptorIsPath(int fd, std::string_view path) {
  struct stat a {}, b {};
  if (::fstat(fd, &a) != 0 || ::stat(std::string(path).c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SetFileMode(std::string_view path, unsigned mode) {
  return ::chmod(std::string(path).c_str(), static_cast<mode_t>(mode)) == 0;
}

std::string CanonicalPath(std::string_view path) {
  const std::string p(path);
  char buf[PATH_MAX];
  if (::realpath(p.c_str(), buf)) return buf;
  if (!p.empty() && p.front() == kPathSep) return p;
  return JoinPath(CurrentDirectory(), p);
}

}  // namespace platform
