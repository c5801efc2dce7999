#pragma once
// What the verbs that work on chosen Mandanten share: the "--mandant N"
// options, the xBase library, the selection in the engine and the checks
// the wizard runs before a conversion.
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Ust2020Obj.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {

struct MandantArgs {
  std::set<int> chosen;          // from "--mandant N"
  std::set<std::string> flags;   // the allowed flags that were given
};

// Parses the verb's arguments; false after a usage error was reported.
bool ParseMandantArgs(const CtlContext& ctx, const std::string& verb, const std::set<std::string>& allowedFlags,
                      MandantArgs& out);

// The engine's text exactly, its CR or CR LF line breaks shown as lines.
void PrintEngineError(const std::string& text);

// Loads the xBase library the engine uses; false after reporting why.
bool LoadXbe(TXBEEngine& xbe);

// Every chosen number must name a Mandant; the others are excluded (none
// chosen: all stay selected). False after a usage error was reported.
bool SelectMandanten(conversion::TQORUSt2020Obj& engine, const std::set<int>& chosen);

// Definition files, tax keys, account layout and activation of the selected
// Mandanten; false after the engine's error was reported.
bool RunChecks(conversion::TQORUSt2020Obj& engine, const std::string& progDir);

// What every verb on chosen Mandanten sets up, in this order: the module
// session, the xBase library, the engine with the chosen Mandanten selected
// and, when asked, the checks. Torn down in the reverse order.
class ChosenMandanten {
 public:
  // kExitOk, or the exit code after the reason was reported.
  int Start(const CtlContext& ctx, const MandantArgs& args, bool runChecks);
  conversion::TQORUSt2020Obj& Engine() { return *FEngine; }

 private:
  CtlSession FSession;
  std::optional<TXBEEngine> FXbe;  // loads the library when made
  std::unique_ptr<conversion::TQORUSt2020Obj> FEngine;
};

}  // namespace ust2020ctl
