#pragma once
// Opens a file with the program the desktop associates with it. The wizard
// hands it to the desktop's default viewer; tests use a fake.
#include <string>

namespace conversion {

class TFileViewer {
 public:
  virtual ~TFileViewer() = default;
  // True when a viewer was started; otherwise false with the platform's
  // description of the error in AError.
  virtual bool Open(const std::string& APath, std::string& AError) = 0;
};

}  // namespace conversion
