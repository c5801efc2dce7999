#include "hostenv/Locations.h"

#include "hostenv/DirText.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace hostenv {
namespace {

std::string EnvOr(const char* name) {
  auto v = platform::GetEnv(name);
  return v ? *v : std::string();
}

// First entry of a colon-separated list; relative entries are invalid and
// are skipped, as the XDG rules ask.
std::string FirstAbsoluteEntry(const std::string& list) {
  std::size_t pos = 0;
  while (pos <= list.size()) {
    const auto colon = list.find(':', pos);
    const std::string entry = list.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (!entry.empty() && entry.front() == '/') return entry;
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return {};
}

std::string HomeBased(const char* xdgName, const char* homeRelative) {
  const std::string v = EnvOr(xdgName);
  if (!v.empty() && v.front() == '/') return AddBackslash(v);
  const std::string home = EnvOr("HOME");
  if (home.empty()) return {};
  return AddBackslash(platform::JoinPath(home, homeRelative));
}

std::string& ProgramDirOverride() {
  static std::string dir;
  return dir;
}

}  // namespace

std::string MachineConfigFolder() {
  std::string d = FirstAbsoluteEntry(EnvOr("XDG_CONFIG_DIRS"));
  return AddBackslash(d.empty() ? "/etc/xdg" : d);
}

std::string UserConfigFolder() { return HomeBased("XDG_CONFIG_HOME", ".config"); }

std::string GetSpecialFolder(int csidl) {
  switch (csidl) {
    case CSIDL_COMMON_APPDATA: {
      std::string d = FirstAbsoluteEntry(EnvOr("XDG_DATA_DIRS"));
      return AddBackslash(d.empty() ? "/usr/local/share" : d);
    }
    case CSIDL_APPDATA:
    case CSIDL_LOCAL_APPDATA:
      return HomeBased("XDG_DATA_HOME", ".local/share");
    case CSIDL_PERSONAL: {
      const std::string home = EnvOr("HOME");
      return home.empty() ? std::string() : AddBackslash(home);
    }
    default:
      return {};
  }
}

std::string RuntimeFolder() {
  const std::string r = EnvOr("XDG_RUNTIME_DIR");
  if (!r.empty() && r.front() == '/') return AddBackslash(r);
  return GetSpecialFolder(CSIDL_APPDATA);
}

std::string HostProgramDirectory() {
  const std::string& o = ProgramDirOverride();
  return o.empty() ? AddBackslash(platform::ProgramDirectory()) : o;
}

void SetHostProgramDirectory(const std::string& dir) {
  ProgramDirOverride() = dir.empty() ? std::string() : AddBackslash(platform::NativeSeparators(dir));
}

}  // namespace hostenv
