#include "platform/ProbeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

ProbeFile::~ProbeFile() {
  if (fd_ >= 0) ::close(fd_);
}

int ProbeFile::Open(const std::string& path, bool writable) {
  if (fd_ >= 0) ::close(fd_);
  do {
    fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ < 0 ? errno : 0;
}

int ProbeFile::FirstByte() const {
  if (fd_ < 0) return -1;
  unsigned char b = 0;
  ssize_t n;
  do {
    n = ::pread(fd_, &b, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? b : -1;
}

}  // namespace platform
