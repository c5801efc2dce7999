#pragma once
// Message boxes for the whole program: a modal QMessageBox with the title,
// the symbol of its kind and one "OK" button (questions get "Ja"/"Nein").
// Whether Ctrl was held is read the moment the box closes, as the host's
// operator overrides expect.
#include <QWidget>
#include <functional>

#include "platform/UserDialog.h"

namespace wizard {

class QtUserDialog : public platform::UserDialog {
 public:
  platform::MessageAnswer ShowMessage(platform::MessageKind kind, const std::string& caption,
                                      const std::string& text) override;

  // Where the keyboard state comes from; tests fake the Ctrl key here.
  std::function<Qt::KeyboardModifiers()> keyboardModifiers;

  // Texts use CR (and CR LF) as line breaks; Qt wants LF.
  static QString DisplayText(const std::string& text);
};

}  // namespace wizard
