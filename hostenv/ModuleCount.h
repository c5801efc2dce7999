#pragma once
// The count of running counted modules of one installation for one user,
// shared by all their processes. It lives in a small file under the runtime
// folder (Locations.h), named after the installation's program directory:
//
//   byte 0        guard: held exclusively while a process changes the marks
//   byte 1 + i    slot i: 1 = counted, 0 = free; a counted slot is also
//                 locked (open-file-description lock) by the process that
//                 counts itself in it
//
// A lock vanishes with its process, so a module that dies without taking
// itself away stops counting at the next reading: a marked slot whose lock
// nobody holds is cleared then. ResetModuleCount clears the marks of every
// other process; their slots stay locked but no longer count.
#include <memory>
#include <string>
#include <vector>

#include "platform/RawFile.h"

namespace hostenv {

class TModuleCount {
 public:
  TModuleCount() = default;
  ~TModuleCount();
  TModuleCount(const TModuleCount&) = delete;
  TModuleCount& operator=(const TModuleCount&) = delete;

  // Opens (creating) the count of the installation in installDir.
  bool Open(const std::string& installDir, std::string* error = nullptr);
  bool IsOpen() const { return FFile.IsOpen(); }
  bool Add();     // counts this process once more
  bool Remove();  // takes one of this process's units away; false when none
  int Count();    // 0 when not open
  void Reset();   // lowers the count to one (this process's, or any one)
  void Close();   // takes this process's units away and closes

  static std::string CountFilePath(const std::string& installDir);
  static constexpr int kSlots = 1024;

 private:
  bool SlotHeldElsewhere(int slot);
  platform::RawFile FFile;
  std::vector<int> FOwnSlots;
};

// The process-wide count, as the module start-up and the Mandant switch use
// it. GetModuleCount reports 0 when the count could not be opened.
bool OpenModuleCount(const std::string& installDir = {});  // default: host program dir
void AddModule();
void RemoveModule();
int GetModuleCount();
void ResetModuleCount();
void CloseModuleCount();

}  // namespace hostenv
