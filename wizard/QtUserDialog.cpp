#include "wizard/QtUserDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace wizard {

QString QtUserDialog::DisplayText(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

platform::MessageAnswer QtUserDialog::ShowMessage(platform::MessageKind kind,
                                                  const std::string& caption,
                                                  const std::string& text) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = QApplication::activeWindow();
  QMessageBox box(parent);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(DisplayText(text));
  box.setTextFormat(Qt::PlainText);
  switch (kind) {
    case platform::MessageKind::Error: box.setIcon(QMessageBox::Critical); break;
    case platform::MessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case platform::MessageKind::Information: box.setIcon(QMessageBox::Information); break;
    case platform::MessageKind::Confirmation: box.setIcon(QMessageBox::Question); break;
  }
  QPushButton* yes = nullptr;
  if (kind == platform::MessageKind::Confirmation) {
    yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
  } else {
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
  }
  box.exec();
  platform::MessageAnswer answer;
  const Qt::KeyboardModifiers mods =
      keyboardModifiers ? keyboardModifiers() : QGuiApplication::queryKeyboardModifiers();
  answer.ctrlHeld = mods.testFlag(Qt::ControlModifier);
  answer.yes = yes == nullptr || box.clickedButton() == yes;
  return answer;
}

}  // namespace wizard
