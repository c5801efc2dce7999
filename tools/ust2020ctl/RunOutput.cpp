#include "tools/ust2020ctl/RunOutput.h"

#include <cstdio>

#include "Ust2020Obj.h"

namespace ust2020ctl {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

int ExcludeConverted(conversion::TQORUSt2020Obj& engine, bool chosenByUser) {
  // A converted Mandant is never converted twice: its new tax keys exist.
  int selected = 0;
  for (int i = 0; i < engine.MandantCount(); ++i) {
    if (engine.IsMandantExcluded(i)) continue;
    if (engine.WasMandantConverted(i)) {
      if (chosenByUser) std::printf("Mandant <%s> ist bereits umgestellt.\n", engine.MandantName(i).c_str());
      engine.SetExcluded(i, true);
    } else {
      ++selected;
    }
  }
  if (selected == 0)
    std::printf(chosenByUser ? "Kein ausgewählter Mandant muss umgestellt werden.\n"
                             : "Alle Mandanten sind bereits umgestellt.\n");
  return selected;
}

bool Interrupted() { return gInterrupted != 0; }

RunScope::RunScope() : FPreviousProgress(platform::CurrentFileOpProgress()) {
  FPreviousHandler = std::signal(SIGINT, &OnInterrupt);
  platform::SetFileOpProgress(&FProgress);
}

RunScope::~RunScope() {
  platform::SetFileOpProgress(FPreviousProgress);
  std::signal(SIGINT, FPreviousHandler == SIG_ERR ? SIG_DFL : FPreviousHandler);
}

// The copy progress has no window here; it only carries the cancel request.
void RunScope::Progress::Start(const std::string& title, std::uint64_t) {
  FCancellable = title.rfind("Wiederherstellung", 0) != 0;
}

bool RunScope::Progress::Update(std::uint64_t, std::uint64_t) { return !FCancellable || gInterrupted == 0; }

void PrintingListBox::Clear() {
  if (FBefore) FBefore->Flush();
  Flush();
  FLines.clear();
  FPrinted = 0;
}

void PrintingListBox::Add(const std::string& ALine) {
  if (FBefore) FBefore->Flush();
  FLines.push_back(ALine);
  PrintUpTo(FLines.size() - 1);
}

std::string PrintingListBox::Line(int AIndex) const {
  return AIndex >= 0 && AIndex < Count() ? FLines[static_cast<std::size_t>(AIndex)] : std::string();
}

void PrintingListBox::SetLine(int AIndex, const std::string& ALine) {
  if (AIndex >= 0 && AIndex < Count()) FLines[static_cast<std::size_t>(AIndex)] = ALine;
}

void PrintingListBox::Repaint() { std::fflush(stdout); }

void PrintingListBox::Flush() {
  PrintUpTo(FLines.size());
  std::fflush(stdout);
}

void PrintingListBox::PrintUpTo(std::size_t end) {
  for (; FPrinted < end; ++FPrinted) std::printf("%s\n", FLines[FPrinted].c_str());
}

}  // namespace ust2020ctl
