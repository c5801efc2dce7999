#include "platform/FileLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Files.h"

namespace platform {
namespace {

bool Apply(int fd, int cmd, short type, std::int64_t start, std::int64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;
  for (;;) {
    if (::fcntl(fd, cmd, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

bool TryLockRange(int fd, LockKind kind, std::int64_t start, std::int64_t length) {
  return Apply(fd, F_OFD_SETLK, kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK, start, length);
}

bool LockRange(int fd, LockKind kind, std::int64_t start, std::int64_t length) {
  return Apply(fd, F_OFD_SETLKW, kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK, start, length);
}

bool UnlockRange(int fd, std::int64_t start, std::int64_t length) {
  return Apply(fd, F_OFD_SETLK, F_UNLCK, start, length);
}

FileLock::~FileLock() { Release(); }

FileLock::FileLock(FileLock&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& o) noexcept {
  if (this != &o) {
    Release();
    fd_ = std::exchange(o.fd_, -1);
  }
  return *this;
}

bool FileLock::Acquire(const std::string& path, LockKind kind, bool wait, std::string* error) {
  Release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = path + ": " + ErrorText(errno);
    return false;
  }
  const bool ok = wait ? LockRange(fd, kind, 0, 0) : TryLockRange(fd, kind, 0, 0);
  if (!ok) {
    if (error) *error = path + ": " + ErrorText(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace platform
