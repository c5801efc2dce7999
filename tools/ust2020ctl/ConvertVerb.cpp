// ust2020ctl convert [--mandant N]...: the conversion the wizard runs, over
// the chosen Mandanten (all not yet converted when none is named), after the
// same checks as `check`. Progress and result lines go to stdout as the
// engine completes them; Ctrl-C cancels the file copies of the run, which
// then fails and restores the Mandant it was working on.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "ListBox.h"
#include "Ust2020Obj.h"
#include "platform/FileOperation.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

// Installs the Ctrl-C handler for the lifetime of the run only, so an
// interrupt before or after it ends the program as usual.
class InterruptScope {
 public:
  InterruptScope() { FPrevious = std::signal(SIGINT, &OnInterrupt); }
  ~InterruptScope() { std::signal(SIGINT, FPrevious == SIG_ERR ? SIG_DFL : FPrevious); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  void (*FPrevious)(int) = SIG_DFL;
};

// The copy progress has no window here; it only carries the cancel request.
// Ctrl-C stops a backup, never the restore of a failed Mandant: cancelling
// that would leave its tables half converted.
class InterruptProgress : public platform::FileOpProgress {
 public:
  void Start(const std::string& title, std::uint64_t) override {
    FCancellable = title.rfind("Wiederherstellung", 0) != 0;
  }
  bool Update(std::uint64_t, std::uint64_t) override { return !FCancellable || gInterrupted == 0; }
  void Finish() override { FCancellable = true; }

 private:
  bool FCancellable = true;
};

class ProgressScope {
 public:
  explicit ProgressScope(platform::FileOpProgress* progress) : FPrevious(platform::CurrentFileOpProgress()) {
    platform::SetFileOpProgress(progress);
  }
  ~ProgressScope() { platform::SetFileOpProgress(FPrevious); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  platform::FileOpProgress* FPrevious;
};

// A list that prints its lines to stdout. The engine rewrites its last line
// while a step runs ("... OK" appended), so a line is printed only once the
// next one is added, or when the list is flushed at the end. The result
// list follows the progress list on stdout, so it finishes that one first.
class PrintingListBox : public conversion::TListBox {
 public:
  explicit PrintingListBox(PrintingListBox* APrintedBefore = nullptr) : FBefore(APrintedBefore) {}
  ~PrintingListBox() override { Flush(); }
  void Clear() override {
    if (FBefore) FBefore->Flush();
    Flush();
    FLines.clear();
    FPrinted = 0;
  }
  void Add(const std::string& ALine) override {
    if (FBefore) FBefore->Flush();
    FLines.push_back(ALine);
    PrintUpTo(FLines.size() - 1);
  }
  int Count() const override { return static_cast<int>(FLines.size()); }
  std::string Line(int AIndex) const override {
    return AIndex >= 0 && AIndex < Count() ? FLines[static_cast<std::size_t>(AIndex)] : std::string();
  }
  // A line already printed cannot change any more on a terminal stream.
  void SetLine(int AIndex, const std::string& ALine) override {
    if (AIndex >= 0 && AIndex < Count()) FLines[static_cast<std::size_t>(AIndex)] = ALine;
  }
  void BeginUpdate() override {}
  void EndUpdate() override {}
  void Repaint() override { std::fflush(stdout); }
  void Flush() {
    PrintUpTo(FLines.size());
    std::fflush(stdout);
  }

 private:
  void PrintUpTo(std::size_t end) {
    for (; FPrinted < end; ++FPrinted) std::printf("%s\n", FLines[FPrinted].c_str());
  }
  PrintingListBox* FBefore;
  std::vector<std::string> FLines;
  std::size_t FPrinted = 0;
};

int RunConvert(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "convert", {}, args)) return kExitUsage;
  CtlSession session;
  if (!session.Start(ctx.progDir)) return kExitFailure;
  TXBEEngine xbe;
  if (!LoadXbe(xbe)) return kExitFailure;

  conversion::TQORUSt2020Obj engine;
  if (!SelectMandanten(engine, args.chosen)) return kExitUsage;
  if (!RunChecks(engine, ctx.progDir)) return kExitFailure;

  // A converted Mandant is never converted twice: its new tax keys exist.
  int selected = 0;
  for (int i = 0; i < engine.MandantCount(); ++i) {
    if (engine.IsMandantExcluded(i)) continue;
    if (engine.WasMandantConverted(i)) {
      if (!args.chosen.empty())
        std::printf("Mandant <%s> ist bereits umgestellt.\n", engine.MandantName(i).c_str());
      engine.SetExcluded(i, true);
    } else {
      ++selected;
    }
  }
  if (selected == 0) {
    std::printf(args.chosen.empty() ? "Alle Mandanten sind bereits umgestellt.\n"
                                    : "Kein ausgewählter Mandant muss umgestellt werden.\n");
    return kExitOk;
  }

  bool ok = false;
  {
    InterruptScope interrupt;
    InterruptProgress progress;
    ProgressScope progressScope(&progress);
    PrintingListBox progressLines;
    PrintingListBox resultLines(&progressLines);
    ok = engine.UpdateAll(&progressLines, &resultLines);
    progressLines.Flush();
    resultLines.Flush();
  }
  if (ok) return kExitOk;
  if (gInterrupted != 0) PrintError("Die Umstellung wurde abgebrochen.");
  const std::string error = engine.LastError();
  if (!error.empty())
    PrintEngineError(error);
  else if (gInterrupted == 0)
    PrintError("Die Umstellung ist fehlgeschlagen.");
  return kExitFailure;
}

const VerbRegistration kConvert{{"convert", "[--mandant N]...",
                                 "stellt die gewählten Mandanten um (ohne Angabe alle noch nicht umgestellten)",
                                 &RunConvert}};

}  // namespace
}  // namespace ust2020ctl
