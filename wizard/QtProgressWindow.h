#pragma once
// The progress window of the table backups: a modal QProgressDialog titled as
// the copy asks, with "Abbrechen". The copy runs on the user-interface thread,
// so each update lets Qt paint and deliver the click on Cancel.
#include <QPointer>
#include <QProgressDialog>
#include <memory>

#include "platform/FileOperation.h"

namespace wizard {

class QtProgressWindow : public platform::FileOpProgress {
 public:
  explicit QtProgressWindow(QWidget* parent = nullptr) : parent_(parent) {}
  ~QtProgressWindow() override;

  void SetParent(QWidget* parent) { parent_ = parent; }

  void Start(const std::string& title, std::uint64_t totalBytes) override;
  bool Update(std::uint64_t doneBytes, std::uint64_t totalBytes) override;
  void Finish() override;

  // The window while a copy runs (tests press its Cancel button).
  QProgressDialog* Dialog() const { return dialog_.get(); }

 private:
  QPointer<QWidget> parent_;
  std::unique_ptr<QProgressDialog> dialog_;
  bool cancelled_ = false;
};

}  // namespace wizard
