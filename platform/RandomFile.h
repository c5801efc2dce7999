#pragma once
// A file read and written at byte offsets (index pages, table records). The
// handle closes itself; every short read or failed write is an error with
// the path and the OS reason, never a silent partial result.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class RandomFile {
 public:
  RandomFile() = default;
  ~RandomFile();
  RandomFile(RandomFile&& other) noexcept;
  RandomFile& operator=(RandomFile&& other) noexcept;
  RandomFile(const RandomFile&) = delete;
  RandomFile& operator=(const RandomFile&) = delete;

  // Opens an existing file, read-only or read-write.
  bool Open(std::string_view path, bool writable, std::string* error = nullptr);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Reads exactly `size` bytes at `offset`; false (and *error) when the file
  // ends earlier or the read fails.
  bool ReadAt(std::uint64_t offset, void* data, std::size_t size, std::string* error = nullptr) const;
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t size,
               std::string* error = nullptr);
  // Current size in bytes, -1 on error.
  std::int64_t Size() const;
  bool Truncate(std::uint64_t size, std::string* error = nullptr);
  // Makes the file, now `from` bytes long, `ahead` bytes long, else `need`
  // (need <= ahead), with zeros, so that a full disk refuses the growth now
  // and not a later write into it. The new length in `reached`; on failure
  // the file is cut back to `from`.
  bool Grow(std::uint64_t from, std::uint64_t need, std::uint64_t ahead, std::uint64_t& reached,
            std::string* error = nullptr);
  // Flushes written data to the disk (fsync).
  bool Sync(std::string* error = nullptr);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
