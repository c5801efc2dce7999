#pragma once
// Advisory byte-range locks on open file descriptors (open file description
// locks): they conflict between two descriptors of one process as well as
// across processes, and vanish when the descriptor closes or the process dies.
#include <cstdint>
#include <string>

namespace platform {

enum class LockKind { Shared, Exclusive };

// Takes a lock on [start, start+length) of `fd` without waiting. length 0
// means "to the end of the file and beyond". False when another descriptor
// holds a conflicting lock (errno EAGAIN) or on error.
bool TryLockRange(int fd, LockKind kind, std::int64_t start, std::int64_t length);
// Waits for the lock.
bool LockRange(int fd, LockKind kind, std::int64_t start, std::int64_t length);
bool UnlockRange(int fd, std::int64_t start, std::int64_t length);

// An RAII lock file: opens (creating) `path` and holds a lock on it while
// the object lives.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& o) noexcept;
  FileLock& operator=(FileLock&& o) noexcept;

  // False (and *error set) when the lock is held elsewhere or the file
  // cannot be opened. `wait` blocks until the lock is free.
  bool Acquire(const std::string& path, LockKind kind, bool wait, std::string* error = nullptr);
  void Release();
  bool Held() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace platform
