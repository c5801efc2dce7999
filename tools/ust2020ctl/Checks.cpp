#include "tools/ust2020ctl/Checks.h"

#include <cstdio>

#include "Ust2020Obj.h"
#include "Ust2020Text.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {

bool ParseMandantArgs(const CtlContext& ctx, const std::string& verb, const std::set<std::string>& allowedFlags,
                      MandantArgs& out) {
  for (std::size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& a = ctx.args[i];
    if (a == "--mandant" && i + 1 < ctx.args.size()) {
      const std::int32_t nr = conversion::TextToInt(ctx.args[i + 1], -1);
      if (nr < 0) {
        UsageError("Ungültige Mandantennummer: " + ctx.args[i + 1]);
        return false;
      }
      out.chosen.insert(nr);
      ++i;
    } else if (allowedFlags.count(a) != 0) {
      out.flags.insert(a);
    } else {
      UsageError("Unbekannte Option für " + verb + ": " + a);
      return false;
    }
  }
  return true;
}

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

bool LoadXbe(TXBEEngine& xbe) {
  if (xbe.m_bIsLoaded || xbe.LoadDLLs()) return true;
  PrintError(std::string("Die xBase-Bibliothek ") + TXBEEngine::kLibraryName + " kann nicht geladen werden.");
  return false;
}

bool SelectMandanten(conversion::TQORUSt2020Obj& engine, const std::set<int>& chosen) {
  for (int nr : chosen) {
    if (nr >= engine.MandantCount()) {
      UsageError("Mandant " + std::to_string(nr) + " gibt es nicht (" + std::to_string(engine.MandantCount()) +
                 " Mandanten)");
      return false;
    }
  }
  if (!chosen.empty())
    for (int i = 0; i < engine.MandantCount(); ++i) engine.SetExcluded(i, chosen.count(i) == 0);
  return true;
}

bool RunChecks(conversion::TQORUSt2020Obj& engine, const std::string& progDir) {
  if (engine.CheckFiles(progDir) && engine.CheckAllSSL() && engine.CheckAllKonten() && engine.CheckMandanten(true))
    return true;
  PrintEngineError(engine.LastError());
  return false;
}

int ChosenMandanten::Start(const CtlContext& ctx, const MandantArgs& args, bool runChecks) {
  if (!FSession.Start(ctx.progDir)) return kExitFailure;
  FXbe.emplace();
  if (!LoadXbe(*FXbe)) return kExitFailure;
  FEngine = std::make_unique<conversion::TQORUSt2020Obj>();
  if (!SelectMandanten(*FEngine, args.chosen)) return kExitUsage;
  if (runChecks && !RunChecks(*FEngine, ctx.progDir)) return kExitFailure;
  return kExitOk;
}

}  // namespace ust2020ctl
