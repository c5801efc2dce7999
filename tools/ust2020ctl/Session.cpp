#include "tools/ust2020ctl/Session.h"

#include "hostenv/ModuleCount.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "platform/Paths.h"
#include "tools/ust2020ctl/Verbs.h"

namespace ust2020ctl {

using namespace hostenv;

bool CtlSession::Start(const std::string& progDir) {
  FStarted = true;
  CreateZeRegistry();
  std::string error;
  if (!OpenModuleCount(progDir)) {
    PrintError("Der Modulzähler kann nicht geöffnet werden.");
    return false;
  }
  AddModule();
  FCounted = true;
  std::string name = ZeRegistry().ZempaIni();
  if (!platform::FileExists(platform::ResolveNoCase(progDir + name))) name = "ZEMPA.INI";
  CreateZeOptions();
  ZeOptions().SetProgPath(progDir);
  ZeOptions().SetZempaIni(TZeIniFile::CreateEx(name, ZeRegistry().IsTerminal(), true, false));
  if (!ZeOptions().CheckDirVersions()) return false;
  return true;
}

CtlSession::~CtlSession() {
  if (!FStarted) return;
  ReleaseZeOptions();
  if (FCounted) RemoveModule();
  CloseModuleCount();
  ReleaseZeRegistry();
}

}  // namespace ust2020ctl
