// ust2020ctl preview [--mandant N]...: the conversion of the chosen
// Mandanten (all not yet converted when none is named) run on copies of
// their tables in a temporary folder. It prints the run's progress and
// result lines and then each Mandant's log sections; the installation is
// not touched: the engine's tables, backup folder and log of each Mandant
// are redirected to its copy, which is deleted afterwards.
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Ust2020Defs.h"
#include "Ust2020Obj.h"
#include "hostenv/Options.h"
#include "platform/Encoding.h"
#include "platform/FileOperation.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/RunOutput.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbase/engine/binding/XBE50.h"

namespace ust2020ctl {
namespace {

constexpr const char* kBackupFolder = "SAVE_USt2020";

// A temporary folder, deleted with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder() = default;
  ~TempFolder() {
    if (!FPath.empty()) platform::RemoveTree(FPath);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  bool Make(std::string* error) {
    FPath = platform::MakeTempDirectory("ust2020-vorschau-", error);
    return !FPath.empty();
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// The files a conversion reads or writes in an accounting directory: both
// tables with their index, memo and full-text files (every file named
// "steuersatz.*" or "konto.*", in any case).
bool IsConversionFile(const std::string& name) {
  const std::string lower = platform::AsciiLower(name);
  for (const auto& table : conversion::TableFiles) {
    const std::string base = platform::AsciiLower(platform::ChangeExtension(std::string(table), ""));
    if (lower.size() > base.size() && lower.compare(0, base.size(), base) == 0 && lower[base.size()] == '.')
      return true;
  }
  return false;
}

// Copies the conversion's files of `from`, and its backup folder, to `to`,
// as the run copies its backups (Ctrl-C cancels through the run's progress).
bool CopyConversionFiles(const std::string& from, const std::string& to, std::string* error) {
  std::vector<std::string> sources, targets;
  for (const auto& name : platform::ListDirectory(from)) {
    const std::string source = platform::JoinPath(from, name);
    if (platform::IsRegularFile(source) && IsConversionFile(name)) {
      sources.push_back(source);
      targets.push_back(platform::JoinPath(to, name));
    } else if (platform::EqualsNoCase(name, kBackupFolder) && platform::DirectoryExists(source)) {
      for (const auto& saved : platform::ListDirectory(source)) {
        const std::string file = platform::JoinPath(source, saved);
        if (!platform::IsRegularFile(file)) continue;
        sources.push_back(file);
        targets.push_back(platform::JoinPath(platform::JoinPath(to, name), saved));
      }
    }
  }
  const auto result = platform::ShellFileOp(sources, targets, platform::FileOpFunc::Copy, "Vorschau");
  if (!result.ok) *error = result.cancelled ? std::string("abgebrochen") : result.error;
  return result.ok;
}

void PrintProtokoll(conversion::TQORUSt2020Obj& engine, int nr) {
  const auto& sections = engine.MandantAt(nr).Protokolle;
  bool any = false;
  for (const auto& lines : sections) any = any || !lines.empty();
  if (!any) return;
  std::printf("\nProtokoll Mandant <%s> (Vorschau)\n", engine.MandantName(nr).c_str());
  for (std::size_t s = 0; s < sections.size(); ++s) {
    if (sections[s].empty()) continue;
    std::printf("\n%s\n", std::string(conversion::ProtokollTitles[s]).c_str());
    for (const auto& line : sections[s]) std::printf("    %s\n", line.c_str());
  }
}

int RunPreview(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "preview", {}, args)) return kExitUsage;
  ChosenMandanten chosen;
  if (const int rc = chosen.Start(ctx, args, true); rc != kExitOk) return rc;
  conversion::TQORUSt2020Obj& engine = chosen.Engine();
  if (ExcludeConverted(engine, !args.chosen.empty()) == 0) return kExitOk;

  RunScope run;
  // Each selected Mandant's files go to a folder of their own; two
  // Mandanten may share an accounting directory, and then share the copy.
  std::vector<std::unique_ptr<TempFolder>> copies;
  std::set<std::string> copied;
  for (int i = 0; i < engine.MandantCount(); ++i) {
    if (engine.IsMandantExcluded(i)) continue;
    if (!engine.ActivateMandant(i)) {
      PrintEngineError(engine.LastError());
      return kExitFailure;
    }
    const std::string fibu = hostenv::ZeOptions().GetDirEntry(hostenv::deFibu);
    if (!copied.insert(fibu).second) continue;
    auto copy = std::make_unique<TempFolder>();
    std::string error;
    if (!copy->Make(&error) || !CopyConversionFiles(fibu, copy->Path(), &error)) {
      PrintError("Die Tabellen von Mandant <" + engine.MandantName(i) +
                 "> können nicht für die Vorschau kopiert werden: " + error);
      return kExitFailure;
    }
    engine.RedirectFibuDir(fibu, copy->Path() + platform::kPathSep);
    copies.push_back(std::move(copy));
  }

  bool ok = false;
  {
    PrintingListBox progressLines;
    PrintingListBox resultLines(&progressLines);
    ok = engine.UpdateAll(&progressLines, &resultLines);
    progressLines.Flush();
    resultLines.Flush();
  }
  for (int i = 0; i < engine.MandantCount(); ++i)
    if (!engine.IsMandantExcluded(i)) PrintProtokoll(engine, i);
  std::printf("\nVorschau: die Installation wurde nicht verändert.\n");
  if (ok) return kExitOk;
  if (Interrupted()) PrintError("Die Vorschau wurde abgebrochen.");
  const std::string error = engine.LastError();
  if (!error.empty()) PrintEngineError(error);
  return kExitFailure;
}

const VerbRegistration kPreview{{"preview", "[--mandant N]...",
                                 "zeigt, was die Umstellung täte, an Kopien der Tabellen (die Installation "
                                 "bleibt unverändert)",
                                 &RunPreview}};

}  // namespace
}  // namespace ust2020ctl
