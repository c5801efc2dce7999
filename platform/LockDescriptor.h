#pragma once
// A descriptor of an existing file held only to carry byte-range locks
// (FileLock.h) on it: the table engine's open-use and record locks live on
// their own descriptor so that they vanish with the work area that took them.
#include <string>
#include <string_view>

namespace platform {

class LockDescriptor {
 public:
  LockDescriptor() = default;
  ~LockDescriptor();
  LockDescriptor(LockDescriptor&& other) noexcept;
  LockDescriptor& operator=(LockDescriptor&& other) noexcept;
  LockDescriptor(const LockDescriptor&) = delete;
  LockDescriptor& operator=(const LockDescriptor&) = delete;

  // Opens an existing file (never creates it). Exclusive locks need
  // `writable`.
  bool Open(std::string_view path, bool writable, std::string* error = nullptr);
  void Close();
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace platform
