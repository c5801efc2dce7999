#pragma once
// Opening a file with the desktop's default viewer: xdg-open with the path as
// its one argument, started detached and never through a shell, so no
// character of the path is interpreted.
#include <string>

namespace wizard {

// False when the viewer could not be started.
bool OpenWithDesktopViewer(const std::string& path, std::string* error = nullptr);

}  // namespace wizard
