// ust2020ctl restore --mandant N --yes: copies the Mandant's backup of its
// tax-key and account tables back over the live files. It overwrites
// whatever was booked since the backup, so it runs only when confirmed.
#include <cstdio>
#include <string>

#include "Ust2020Obj.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

int RunRestore(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "restore", {"--yes"}, args)) return kExitUsage;
  if (args.chosen.size() != 1) return UsageError("restore braucht genau einen Mandanten (--mandant N)");
  if (args.flags.count("--yes") == 0)
    return UsageError(
        "Die Wiederherstellung überschreibt die Steuerschlüssel- und Kontentabelle des Mandanten mit der "
        "Sicherung; zur Bestätigung --yes angeben");
  const int nr = *args.chosen.begin();

  ChosenMandanten chosen;
  if (const int rc = chosen.Start(ctx, args, false); rc != kExitOk) return rc;
  conversion::TQORUSt2020Obj& engine = chosen.Engine();

  if (!engine.RestoreMandant(nr)) {
    PrintEngineError(engine.LastError());
    return kExitFailure;
  }
  std::printf("Mandant <%s>: Ausgangszustand wurde wiederhergestellt.\n", engine.MandantName(nr).c_str());
  return kExitOk;
}

const VerbRegistration kRestore{{"restore", "--mandant N --yes",
                                 "stellt Steuerschlüssel und Konten eines Mandanten aus der Sicherung wieder her",
                                 &RunRestore}};

}  // namespace
}  // namespace ust2020ctl
