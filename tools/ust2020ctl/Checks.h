#pragma once
// What the verbs that work on chosen Mandanten share: the "--mandant N"
// options, the xBase library, the selection in the engine and the checks
// the wizard runs before a conversion.
#include <set>
#include <string>

#include "tools/ust2020ctl/Verbs.h"

class TXBEEngine;
namespace conversion {
class TQORUSt2020Obj;
}

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

}  // namespace ust2020ctl
