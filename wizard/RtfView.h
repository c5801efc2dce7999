#pragma once
// Shows a rich-text file in a read-only text box.
#include <QString>
#include <QTextEdit>

namespace wizard {

// Replaces the box's text by the file's; false (text untouched) when the
// file cannot be read.
bool LoadRichTextFile(QTextEdit* box, const QString& path);

}  // namespace wizard
