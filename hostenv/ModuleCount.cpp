#include "hostenv/ModuleCount.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace hostenv {
namespace {

constexpr std::int64_t kGuardOffset = 0;
constexpr std::int64_t kFirstSlot = 1;

// Holds the guard byte while the marks are read and changed, so that two
// processes never pick the same slot or clear each other's changes.
class Guard {
 public:
  explicit Guard(int fd) : fd_(fd) { platform::LockRange(fd_, platform::LockKind::Exclusive, kGuardOffset, 1); }
  ~Guard() { platform::UnlockRange(fd_, kGuardOffset, 1); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  int fd_;
};

std::string InstallationTag(const std::string& installDir) {
  // FNV-1a of the canonical program directory: one count per installation.
  const std::string canonical = platform::CanonicalPath(DelBackslash(installDir));
  std::uint64_t h = 1469598103934665603ULL;
  for (const unsigned char c : canonical) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

TModuleCount& ProcessCount() {
  static TModuleCount count;
  return count;
}

}  // namespace

TModuleCount::~TModuleCount() { Close(); }

std::string TModuleCount::CountFilePath(const std::string& installDir) {
  const std::string folder = RuntimeFolder();
  if (folder.empty()) return {};
  return AddBackslash(folder + "ZempaPro") + "ZEMPA32-" + InstallationTag(installDir);
}

bool TModuleCount::Open(const std::string& installDir, std::string* error) {
  Close();
  const std::string path = CountFilePath(installDir);
  if (path.empty()) {
    if (error) *error = "Kein Laufzeitverzeichnis für den Modulzähler (XDG_RUNTIME_DIR, HOME)";
    return false;
  }
  if (!platform::MakeDirectories(platform::DirectoryPart(path), error)) return false;
  return FFile.Open(path, 0600, error);
}

bool TModuleCount::SlotHeldElsewhere(int slot) {
  const std::int64_t at = kFirstSlot + slot;
  if (!platform::TryLockRange(FFile.Fd(), platform::LockKind::Exclusive, at, 1)) return true;
  platform::UnlockRange(FFile.Fd(), at, 1);
  return false;
}

bool TModuleCount::Add() {
  if (!IsOpen()) return false;
  Guard guard(FFile.Fd());
  for (int i = 0; i < kSlots; ++i) {
    if (std::find(FOwnSlots.begin(), FOwnSlots.end(), i) != FOwnSlots.end()) continue;
    if (!platform::TryLockRange(FFile.Fd(), platform::LockKind::Exclusive, kFirstSlot + i, 1))
      continue;
    // A free slot, or one whose process died: its lock went with it.
    const char mark = 1;
    if (!FFile.WriteAt(kFirstSlot + i, &mark, 1)) {
      platform::UnlockRange(FFile.Fd(), kFirstSlot + i, 1);
      return false;
    }
    FOwnSlots.push_back(i);
    return true;
  }
  return false;
}

bool TModuleCount::Remove() {
  if (!IsOpen() || FOwnSlots.empty()) return false;
  Guard guard(FFile.Fd());
  // A unit that still counts goes first; after a reset by another process
  // our slots may no longer be marked.
  auto it = FOwnSlots.end();
  for (auto s = FOwnSlots.begin(); s != FOwnSlots.end(); ++s) {
    char mark = 0;
    FFile.ReadAt(kFirstSlot + *s, &mark, 1);
    if (mark == 1) {
      it = s;
      break;
    }
  }
  if (it == FOwnSlots.end()) it = FOwnSlots.end() - 1;
  const char zero = 0;
  FFile.WriteAt(kFirstSlot + *it, &zero, 1);
  platform::UnlockRange(FFile.Fd(), kFirstSlot + *it, 1);
  FOwnSlots.erase(it);
  return true;
}

int TModuleCount::Count() {
  if (!IsOpen()) return 0;
  Guard guard(FFile.Fd());
  char marks[kSlots];
  if (!FFile.ReadAt(kFirstSlot, marks, sizeof marks)) return 0;
  int n = 0;
  for (int i = 0; i < kSlots; ++i) {
    if (marks[i] != 1) continue;
    const bool own = std::find(FOwnSlots.begin(), FOwnSlots.end(), i) != FOwnSlots.end();
    if (own || SlotHeldElsewhere(i)) {
      ++n;
    } else {
      const char zero = 0;  // its process ended without taking itself away
      FFile.WriteAt(kFirstSlot + i, &zero, 1);
    }
  }
  return n;
}

void TModuleCount::Reset() {
  if (!IsOpen()) return;
  Guard guard(FFile.Fd());
  char marks[kSlots];
  if (!FFile.ReadAt(kFirstSlot, marks, sizeof marks)) return;
  int keep = -1;
  for (const int s : FOwnSlots) {
    if (marks[s] == 1) {
      keep = s;
      break;
    }
  }
  for (int i = 0; i < kSlots && keep < 0; ++i) {
    if (marks[i] == 1 && SlotHeldElsewhere(i)) keep = i;
  }
  const char zero = 0;
  for (int i = 0; i < kSlots; ++i) {
    if (marks[i] == 1 && i != keep) FFile.WriteAt(kFirstSlot + i, &zero, 1);
  }
}

void TModuleCount::Close() {
  if (!IsOpen()) return;
  {
    Guard guard(FFile.Fd());
    const char zero = 0;
    for (const int s : FOwnSlots) FFile.WriteAt(kFirstSlot + s, &zero, 1);
  }
  FOwnSlots.clear();
  FFile.Close();  // releases every lock of this descriptor
}

bool OpenModuleCount(const std::string& installDir) {
  return ProcessCount().Open(installDir.empty() ? HostProgramDirectory() : installDir);
}

void AddModule() { ProcessCount().Add(); }
void RemoveModule() { ProcessCount().Remove(); }
int GetModuleCount() { return ProcessCount().Count(); }
void ResetModuleCount() { ProcessCount().Reset(); }
void CloseModuleCount() { ProcessCount().Close(); }

}  // namespace hostenv
