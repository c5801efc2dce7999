#include "wizard/QtProgressWindow.h"

#include <QCoreApplication>

namespace wizard {
namespace {
constexpr int kSteps = 1000;

int Scaled(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return kSteps;
  if (done >= total) return kSteps;
  return static_cast<int>((done * kSteps) / total);
}
}  // namespace

QtProgressWindow::~QtProgressWindow() = default;

void QtProgressWindow::Start(const std::string& title, std::uint64_t totalBytes) {
  dialog_ = std::make_unique<QProgressDialog>(parent_.data());
  dialog_->setObjectName(QStringLiteral("ProgressWindow"));
  dialog_->setWindowTitle(QString::fromStdString(title));
  dialog_->setLabelText(QString::fromStdString(title));
  dialog_->setCancelButtonText(QStringLiteral("Abbrechen"));
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(0);
  dialog_->setRange(0, kSteps);
  dialog_->setValue(Scaled(0, totalBytes));
  cancelled_ = false;
  QObject::connect(dialog_.get(), &QProgressDialog::canceled, [this] { cancelled_ = true; });
  dialog_->show();
  QCoreApplication::processEvents();
}

bool QtProgressWindow::Update(std::uint64_t doneBytes, std::uint64_t totalBytes) {
  if (!dialog_) return true;
  dialog_->setValue(Scaled(doneBytes, totalBytes));
  QCoreApplication::processEvents();
  return !cancelled_ && !dialog_->wasCanceled();
}

void QtProgressWindow::Finish() {
  if (dialog_) {
    dialog_->hide();
    dialog_.reset();
  }
}

}  // namespace wizard
