// ust2020ctl check [--mandant N]...: the checks the wizard runs before a
// conversion, over the chosen Mandanten (all when none is named): the
// definition files and the information text, the tax keys, the account
// table layout, the activation and the chart of accounts of each Mandant.
#include <cstdio>
#include <string>

#include "TestGrid.h"
#include "Ust2020Obj.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

int RunCheck(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "check", {}, args)) return kExitUsage;
  ChosenMandanten chosen;
  if (const int rc = chosen.Start(ctx, args, true); rc != kExitOk) return rc;
  conversion::TQORUSt2020Obj& engine = chosen.Engine();
  // The grid the wizard shows: number, name, chart and the converted mark.
  conversion::TTestGrid grid;
  if (!engine.FillMandantGrid(grid)) {
    PrintEngineError(engine.LastError());
    return kExitFailure;
  }
  for (int i = 0; i < engine.MandantCount(); ++i) {
    const std::string state = engine.IsMandantExcluded(i)     ? "nicht ausgewählt"
                              : engine.WasMandantConverted(i) ? "bereits umgestellt"
                                                              : "kann umgestellt werden";
    std::printf("%d\tMandant <%s>\t%s\t%s\n", i, engine.MandantName(i).c_str(), grid.Cell(3, i + 1).c_str(),
                state.c_str());
  }
  std::printf("Prüfung bestanden.\n");
  return kExitOk;
}

const VerbRegistration kCheck{{"check", "[--mandant N]...",
                               "prüft Definitionsdateien, Steuerschlüssel und Kontentabellen wie vor einer "
                               "Umstellung",
                               &RunCheck}};

}  // namespace
}  // namespace ust2020ctl
