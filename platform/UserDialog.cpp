#include "platform/UserDialog.h"

#include <cstdio>

namespace platform {
namespace {

class StderrUserDialog : public UserDialog {
 public:
  MessageAnswer ShowMessage(MessageKind, const std::string& caption,
                            const std::string& text) override {
    std::string t = text;
    for (std::size_t p; (p = t.find('\r')) != std::string::npos;) t.erase(p, 1);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), t.c_str());
    return {};
  }
};

StderrUserDialog g_default;
UserDialog* g_current = nullptr;

}  // namespace

UserDialog& CurrentUserDialog() { return g_current ? *g_current : g_default; }
void SetUserDialog(UserDialog* dialog) { g_current = dialog; }

MessageAnswer RecordingUserDialog::ShowMessage(MessageKind kind, const std::string& caption,
                                               const std::string& text) {
  messages.push_back({kind, caption, text});
  return {ctrlHeld, answerYes};
}

ScopedUserDialog::ScopedUserDialog(UserDialog& d) : previous_(g_current) { g_current = &d; }
ScopedUserDialog::~ScopedUserDialog() { g_current = previous_; }

}  // namespace platform
