#pragma once
// An open file for positioned reads and writes (small shared state files),
// closed when the object dies; and file permission changes.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class RawFile {
 public:
  RawFile() = default;
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;
  RawFile(RawFile&& o) noexcept;
  RawFile& operator=(RawFile&& o) noexcept;

  // Opens for reading and writing, creating the file with `mode` when
  // missing. False with *error set on failure.
  bool Open(const std::string& path, unsigned mode, std::string* error = nullptr);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Whole-buffer transfers at an offset; a read past the end fills zeros.
  bool ReadAt(std::int64_t offset, void* buf, std::size_t n);
  bool WriteAt(std::int64_t offset, const void* buf, std::size_t n);

 private:
  int fd_ = -1;
};

// True when `fd` is open on the file that `path` names now (same device and
// inode): false after the file was replaced by a rename or removed.
bool DescriptorIsPath(int fd, std::string_view path);

// chmod. False on failure.
bool SetFileMode(std::string_view path, unsigned mode);

// The absolute path with symbolic links and "." / ".." resolved; the path
// made absolute when it does not exist.
std::string CanonicalPath(std::string_view path);

}  // namespace platform
