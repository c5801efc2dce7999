#include "wizard/StyleSheets.h"

#include <QApplication>

namespace wizard {

QtStyleManager::QtStyleManager() { hostenv::SetStyleManager(this); }

QtStyleManager::~QtStyleManager() { hostenv::SetStyleManager(nullptr); }

void QtStyleManager::Activated(const std::string&, const std::string& sheet) {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
    app->setStyleSheet(QString::fromUtf8(sheet.data(), static_cast<qsizetype>(sheet.size())));
}

}  // namespace wizard
