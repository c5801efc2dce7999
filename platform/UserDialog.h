#pragma once
// What the lower layers need of the user: a message box (error, warning,
// information, question) and whether the Ctrl key was held when it closed.
// The wizard implements it with Qt; tools print to stderr; tests record the
// messages and answer as scripted.
#include <string>
#include <vector>

namespace platform {

enum class MessageKind { Error, Warning, Information, Confirmation };

struct MessageAnswer {
  bool ctrlHeld = false;  // Ctrl key held when the box closed (operator override)
  bool yes = true;        // for Confirmation: the user agreed
};

class UserDialog {
 public:
  virtual ~UserDialog() = default;
  virtual MessageAnswer ShowMessage(MessageKind kind, const std::string& caption,
                                    const std::string& text) = 0;
};

// The process-wide dialog. Defaults to one that prints to stderr and
// answers "no Ctrl, yes". SetUserDialog(nullptr) restores that default.
UserDialog& CurrentUserDialog();
void SetUserDialog(UserDialog* dialog);

// For tests and tools: keeps every message, answers from a script.
class RecordingUserDialog : public UserDialog {
 public:
  struct Message {
    MessageKind kind;
    std::string caption;
    std::string text;
  };
  MessageAnswer ShowMessage(MessageKind kind, const std::string& caption,
                            const std::string& text) override;

  std::vector<Message> messages;
  bool ctrlHeld = false;  // answer given for every message
  bool answerYes = true;
};

// Installs a dialog for the lifetime of the object (tests).
class ScopedUserDialog {
 public:
  explicit ScopedUserDialog(UserDialog& d);
  ~ScopedUserDialog();
  ScopedUserDialog(const ScopedUserDialog&) = delete;
  ScopedUserDialog& operator=(const ScopedUserDialog&) = delete;

 private:
  UserDialog* previous_;
};

}  // namespace platform
