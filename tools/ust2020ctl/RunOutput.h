#pragma once
// What convert and preview share while the engine runs: Ctrl-C as the
// cancel of the copy progress, and list boxes that print their lines.
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "ListBox.h"
#include "platform/FileOperation.h"

namespace conversion {
class TQORUSt2020Obj;
}

namespace ust2020ctl {

// Excludes the Mandanten that are already converted (naming them when the
// user chose Mandanten) and returns how many stay selected; with none left
// it says so on stdout.
int ExcludeConverted(conversion::TQORUSt2020Obj& engine, bool chosenByUser);

// True once Ctrl-C was pressed during a RunScope.
bool Interrupted();

// For the lifetime of one run: Ctrl-C cancels the file copies of the run
// (a backup, never the restore of a failed Mandant: cancelling that would
// leave its tables half converted), which then fails and restores the
// Mandant it was working on. Before and after, Ctrl-C ends the program as
// usual.
class RunScope {
 public:
  RunScope();
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  class Progress : public platform::FileOpProgress {
   public:
    void Start(const std::string& title, std::uint64_t) override;
    bool Update(std::uint64_t, std::uint64_t) override;
    void Finish() override { FCancellable = true; }

   private:
    bool FCancellable = true;
  };
  void (*FPreviousHandler)(int) = SIG_DFL;
  platform::FileOpProgress* FPreviousProgress = nullptr;
  Progress FProgress;
};

// A list that prints its lines to stdout. The engine rewrites its last line
// while a step runs ("... OK" appended), so a line is printed only once the
// next one is added, or when the list is flushed at the end. The result
// list follows the progress list on stdout, so it finishes that one first.
class PrintingListBox : public conversion::TListBox {
 public:
  explicit PrintingListBox(PrintingListBox* APrintedBefore = nullptr) : FBefore(APrintedBefore) {}
  ~PrintingListBox() override { Flush(); }
  void Clear() override;
  void Add(const std::string& ALine) override;
  int Count() const override { return static_cast<int>(FLines.size()); }
  std::string Line(int AIndex) const override;
  // A line already printed cannot change any more on a terminal stream.
  void SetLine(int AIndex, const std::string& ALine) override;
  void BeginUpdate() override {}
  void EndUpdate() override {}
  void Repaint() override;
  void Flush();

 private:
  void PrintUpTo(std::size_t end);
  PrintingListBox* FBefore;
  std::vector<std::string> FLines;
  std::size_t FPrinted = 0;
};

}  // namespace ust2020ctl
