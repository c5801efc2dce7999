#pragma once
// Opening a file with the desktop's default viewer: xdg-open with the path as
// its one argument, started detached and never through a shell, so no
// character of the path is interpreted.
#include <string>

#include "conversion/FileViewer.h"

namespace wizard {

// False when the viewer could not be started.
bool OpenWithDesktopViewer(const std::string& path, std::string* error = nullptr);

// The engine's log viewer in the program: the desktop's default viewer.
class DesktopFileViewer : public conversion::TFileViewer {
 public:
  bool Open(const std::string& APath, std::string& AError) override {
    return OpenWithDesktopViewer(APath, &AError);
  }
};

}  // namespace wizard
