#include "wizard/FileViewer.h"

#include <QProcess>

namespace wizard {

bool OpenWithDesktopViewer(const std::string& path, std::string* error) {
  const bool ok = QProcess::startDetached(QStringLiteral("xdg-open"),
                                          {QString::fromStdString(path)});
  if (!ok && error) *error = "xdg-open konnte nicht gestartet werden";
  return ok;
}

}  // namespace wizard
