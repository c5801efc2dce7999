#pragma once
// A short-lived look at an existing file before a library opens it for real:
// opened read-only or read-write, its first byte read, closed with the
// object. The table component uses it to learn the table kind and to report
// an unopenable table file with the OS error code.
#include <string>

namespace platform {

class ProbeFile {
 public:
  ProbeFile() = default;
  ~ProbeFile();
  ProbeFile(const ProbeFile&) = delete;
  ProbeFile& operator=(const ProbeFile&) = delete;

  // 0 when open, else the errno value of the failure.
  int Open(const std::string& path, bool writable);
  // The first byte (0..255), or -1 for an empty or unreadable file.
  int FirstByte() const;
  int Fd() const { return fd_; }  // for platform::TryLockRange

 private:
  int fd_ = -1;
};

}  // namespace platform
