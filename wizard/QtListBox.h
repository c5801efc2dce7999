#pragma once
// The progress and result lists of the conversion page. The run works on the
// user-interface thread, so a line added while it works would not show until
// it ends; Repaint paints the list at once, and BeginUpdate/EndUpdate hold
// painting back while a list is refilled in one go.
#include <QListWidget>
#include <string>

#include "conversion/ListBox.h"

namespace wizard {

class QtListBox : public QListWidget, public conversion::TListBox {
  Q_OBJECT
 public:
  explicit QtListBox(QWidget* parent = nullptr);

  void Clear() override;
  void Add(const std::string& ALine) override;
  int Count() const override { return count(); }
  std::string Line(int AIndex) const override;
  void SetLine(int AIndex, const std::string& ALine) override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void Repaint() override;

 private:
  int suspended_ = 0;
};

}  // namespace wizard
