#pragma once
// The progress and result lists of the conversion page, as the engine sees
// them. The wizard implements it with Qt; tools print the lines.
#include <string>

namespace conversion {

class TListBox {
 public:
  virtual ~TListBox() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::string& ALine) = 0;  // UTF-8
  virtual int Count() const = 0;
  virtual std::string Line(int AIndex) const = 0;
  virtual void SetLine(int AIndex, const std::string& ALine) = 0;
  // Repainting is suspended between BeginUpdate and EndUpdate.
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  // Shows the current lines at once (the run blocks the event loop).
  virtual void Repaint() = 0;
};

}  // namespace conversion
