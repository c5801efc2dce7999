#include "wizard/RtfView.h"

#include <string>

#include "platform/Files.h"
#include "wizard/RtfReader.h"

namespace wizard {

bool LoadRichTextFile(QTextEdit* box, const QString& path) {
  std::string bytes;
  if (!platform::ReadWholeFile(path.toStdString(), bytes)) return false;
  const std::string html = RtfToHtml(bytes);
  box->setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
  box->moveCursor(QTextCursor::Start);
  return true;
}

}  // namespace wizard
