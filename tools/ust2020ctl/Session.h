#pragma once
// The module environment of one ust2020ctl run on an installation: the
// registry store, the module count (the tool counts itself like every
// module of the suite) and ZeOptions on the user's main settings file. The
// tool only reads the registry store; it never records its program path.
#include <string>

namespace ust2020ctl {

class CtlSession {
 public:
  CtlSession() = default;
  ~CtlSession();
  CtlSession(const CtlSession&) = delete;
  CtlSession& operator=(const CtlSession&) = delete;

  // False with the reason already reported on stderr.
  bool Start(const std::string& progDir);

 private:
  bool FCounted = false;
  bool FStarted = false;
};

}  // namespace ust2020ctl
