#include "platform/Process.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/Paths.h"

namespace platform {

std::string ProgramFile() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramDirectory() { return DirectoryPart(ProgramFile()); }

std::string ProgramFileName() { return FileNamePart(ProgramFile()); }

std::optional<std::string> GetEnv(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool TracerAttached() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
  }
  return false;
}

}  // namespace platform
