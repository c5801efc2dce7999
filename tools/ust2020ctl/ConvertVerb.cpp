// ust2020ctl convert [--mandant N]...: the conversion the wizard runs, over
// the chosen Mandanten (all not yet converted when none is named), after the
// same checks as `check`. Progress and result lines go to stdout as the
// engine completes them; Ctrl-C cancels the file copies of the run, which
// then fails and restores the Mandant it was working on.
#include <string>

#include "Ust2020Obj.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/RunOutput.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

int RunConvert(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "convert", {}, args)) return kExitUsage;
  ChosenMandanten chosen;
  if (const int rc = chosen.Start(ctx, args, true); rc != kExitOk) return rc;
  conversion::TQORUSt2020Obj& engine = chosen.Engine();
  if (ExcludeConverted(engine, !args.chosen.empty()) == 0) return kExitOk;

  bool ok = false;
  {
    RunScope run;
    PrintingListBox progressLines;
    PrintingListBox resultLines(&progressLines);
    ok = engine.UpdateAll(&progressLines, &resultLines);
    progressLines.Flush();
    resultLines.Flush();
  }
  if (ok) return kExitOk;
  if (Interrupted()) PrintError("Die Umstellung wurde abgebrochen.");
  const std::string error = engine.LastError();
  if (!error.empty())
    PrintEngineError(error);
  else if (!Interrupted())
    PrintError("Die Umstellung ist fehlgeschlagen.");
  return kExitFailure;
}

const VerbRegistration kConvert{{"convert", "[--mandant N]...",
                                 "stellt die gewählten Mandanten um (ohne Angabe alle noch nicht umgestellten)",
                                 &RunConvert}};

}  // namespace
}  // namespace ust2020ctl
