#pragma once
// Where the host environment keeps its files on Linux. Every location follows
// the XDG base-directory variables, so tests and demos move all of them into
// a temporary folder by setting those variables:
//
//   machine scope store   $XDG_CONFIG_DIRS (first entry, default /etc/xdg)
//                         /ZempaPro/registry.ini
//   user scope store      $XDG_CONFIG_HOME (default ~/.config)/ZempaPro/registry.ini
//   all-users folder      $XDG_DATA_DIRS (first entry, default /usr/local/share)
//                         /ZempaPro/   (holds the mirror ZempaPro.ini)
//   per-user folder       $XDG_DATA_HOME (default ~/.local/share)/ZempaPro/
//   module count          $XDG_RUNTIME_DIR/ZempaPro/, else the per-user folder
#include <string>

namespace hostenv {

// Shell folder numbers the host asks for; others resolve to "".
inline constexpr int CSIDL_APPDATA = 0x001A;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int CSIDL_COMMON_APPDATA = 0x0023;
inline constexpr int CSIDL_PERSONAL = 0x0005;

// The folder with one trailing separator; empty when it cannot be resolved
// (for instance no HOME and no XDG variable).
std::string GetSpecialFolder(int csidl);

std::string MachineConfigFolder();  // first XDG_CONFIG_DIRS entry, with separator
std::string UserConfigFolder();     // XDG_CONFIG_HOME, with separator
std::string RuntimeFolder();        // XDG_RUNTIME_DIR, else per-user data folder

// The suite's program directory as this process sees it: the directory of
// the running program file unless a tool was pointed at another installation
// (ust2020ctl --prog-dir). With one trailing separator.
std::string HostProgramDirectory();
void SetHostProgramDirectory(const std::string& dir);  // "" restores the default

}  // namespace hostenv
