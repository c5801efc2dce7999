// ust2020ctl check [--mandant N]...: the checks the wizard runs before a
// conversion, over the chosen Mandanten (all when none is named): the
// definition files and the information text, the tax keys, the account
// table layout, the activation and the chart of accounts of each Mandant.
#include <cstdio>
#include <set>
#include <string>

#include "TestGrid.h"
#include "Ust2020Obj.h"
#include "Ust2020Text.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

// The engine's text exactly, its CR or CR LF line breaks shown as lines.
void PrintEngineError(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  std::fprintf(stderr, "%s\n", out.c_str());
}

int RunCheck(CtlContext& ctx) {
  std::set<int> chosen;
  for (std::size_t i = 0; i < ctx.args.size(); ++i) {
    if (ctx.args[i] == "--mandant" && i + 1 < ctx.args.size()) {
      const std::int32_t nr = conversion::TextToInt(ctx.args[i + 1], -1);
      if (nr < 0) return UsageError("Ungültige Mandantennummer: " + ctx.args[i + 1]);
      chosen.insert(nr);
      ++i;
    } else {
      return UsageError("Unbekannte Option für check: " + ctx.args[i]);
    }
  }
  CtlSession session;
  if (!session.Start(ctx.progDir)) return kExitFailure;
  TXBEEngine xbe;
  if (!xbe.m_bIsLoaded && !xbe.LoadDLLs()) {
    PrintError(std::string("Die xBase-Bibliothek ") + TXBEEngine::kLibraryName + " kann nicht geladen werden.");
    return kExitFailure;
  }

  conversion::TQORUSt2020Obj engine;
  for (int nr : chosen)
    if (nr >= engine.MandantCount())
      return UsageError("Mandant " + std::to_string(nr) + " gibt es nicht (" +
                        std::to_string(engine.MandantCount()) + " Mandanten)");
  if (!chosen.empty())
    for (int i = 0; i < engine.MandantCount(); ++i) engine.SetExcluded(i, chosen.count(i) == 0);

  if (!engine.CheckFiles(ctx.progDir) || !engine.CheckAllSSL() || !engine.CheckAllKonten() ||
      !engine.CheckMandanten(true)) {
    PrintEngineError(engine.LastError());
    return kExitFailure;
  }
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
