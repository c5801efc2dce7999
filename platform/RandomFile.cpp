#include "platform/RandomFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/Files.h"

namespace platform {

namespace {
bool Fail(std::string* error, const std::string& path, int err) {
  if (error) *error = path + ": " + ErrorText(err);
  return false;
}
}  // namespace

RandomFile::~RandomFile() { Close(); }

RandomFile::RandomFile(RandomFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

RandomFile& RandomFile::operator=(RandomFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool RandomFile::Open(std::string_view path, bool writable, std::string* error) {
  Close();
  path_ = std::string(path);
  int fd;
  do {
    fd = ::open(path_.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(error, path_, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = errno ? errno : EINVAL;
    if (!S_ISREG(st.st_mode)) err = EISDIR;
    ::close(fd);
    return Fail(error, path_, err);
  }
  fd_ = fd;
  return true;
}

void RandomFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RandomFile::ReadAt(std::uint64_t offset, void* data, std::size_t size,
                        std::string* error) const {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, path_, errno);
    }
    if (n == 0) {
      if (error) *error = path_ + ": unexpected end of file";
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool RandomFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size,
                         std::string* error) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, path_, errno);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

std::int64_t RandomFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool RandomFile::Truncate(std::uint64_t size, std::string* error) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(error, path_, errno);
  return true;
}

bool RandomFile::Grow(std::uint64_t from, std::uint64_t need, std::uint64_t ahead,
                      std::uint64_t& reached, std::string* error) {
  for (const std::uint64_t target : {ahead, need}) {
    const std::vector<char> zeros(static_cast<std::size_t>(target - from), '\0');
    if (WriteAt(from, zeros.data(), zeros.size(), error)) {
      reached = target;
      return true;
    }
    std::string ignored;
    Truncate(from, &ignored);
    if (target == need) break;
  }
  return false;
}

bool RandomFile::Sync(std::string* error) {
  if (::fsync(fd_) != 0) return Fail(error, path_, errno);
  return true;
}

}  // namespace platform
