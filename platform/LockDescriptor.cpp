#include "platform/LockDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Files.h"

namespace platform {

LockDescriptor::~LockDescriptor() { Close(); }

LockDescriptor::LockDescriptor(LockDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

LockDescriptor& LockDescriptor::operator=(LockDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool LockDescriptor::Open(std::string_view path, bool writable, std::string* error) {
  Close();
  const std::string p(path);
  int fd;
  do {
    fd = ::open(p.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error) *error = p + ": " + ErrorText(errno);
    return false;
  }
  fd_ = fd;
  return true;
}

void LockDescriptor::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
