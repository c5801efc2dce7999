#pragma once
// The style manager of the wizard: the active Mandant style's sheet becomes
// the style sheet of the whole application, so every window and message box
// follows it; the system style is the empty sheet.
#include "hostenv/MandantStyle.h"

namespace wizard {

class QtStyleManager : public hostenv::TStyleManager {
 public:
  QtStyleManager();
  ~QtStyleManager() override;  // restores the plain manager
  QtStyleManager(const QtStyleManager&) = delete;
  QtStyleManager& operator=(const QtStyleManager&) = delete;

 protected:
  void Activated(const std::string& name, const std::string& sheet) override;
};

}  // namespace wizard
