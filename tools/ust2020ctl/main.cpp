// ust2020ctl [--prog-dir DIR] <verb> [arguments]: the command-line companion
// of the wizard. Exit codes: 0 success, 1 failure, 2 wrong usage.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/RawFile.h"
#include "platform/UserDialog.h"
#include "tools/ust2020ctl/Verbs.h"

namespace ust2020ctl {
namespace {

std::map<std::string, VerbInfo>& Registry() {
  static std::map<std::string, VerbInfo> verbs;
  return verbs;
}

std::string WithLineBreaks(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// The host's message boxes become lines on stderr; nobody holds Ctrl.
class StderrDialog : public platform::UserDialog {
 public:
  platform::MessageAnswer ShowMessage(platform::MessageKind, const std::string&,
                                      const std::string& text) override {
    PrintError(text);
    return {false, false};
  }
};

void PrintUsage() {
  std::fprintf(stderr, "Aufruf: ust2020ctl [--prog-dir VERZEICHNIS] <Befehl> [Optionen]\n\nBefehle:\n");
  for (const auto& v : VerbRegistry::All())
    std::fprintf(stderr, "  %s %s\n      %s\n", v.name, v.arguments, v.description);
}

}  // namespace

void VerbRegistry::Add(const VerbInfo& verb) { Registry()[verb.name] = verb; }

const VerbInfo* VerbRegistry::Find(const std::string& name) {
  const auto it = Registry().find(name);
  return it == Registry().end() ? nullptr : &it->second;
}

std::vector<VerbInfo> VerbRegistry::All() {
  std::vector<VerbInfo> all;
  for (const auto& [name, v] : Registry()) all.push_back(v);
  return all;
}

void PrintError(const std::string& text) {
  std::fprintf(stderr, "ust2020ctl: %s\n", WithLineBreaks(text).c_str());
}

int UsageError(const std::string& text) {
  PrintError(text);
  PrintUsage();
  return kExitUsage;
}

}  // namespace ust2020ctl

int main(int argc, char** argv) {
  using namespace ust2020ctl;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string progDir = platform::ProgramDirectory();
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--prog-dir") {
      if (i + 1 >= args.size()) return UsageError("--prog-dir erwartet ein Verzeichnis.");
      progDir = args[++i];
    } else if (a.rfind("--prog-dir=", 0) == 0) {
      progDir = a.substr(11);
    } else if (a == "--help" || a == "-h") {
      PrintUsage();
      return kExitOk;
    } else if (!a.empty() && a.front() == '-') {
      return UsageError("Unbekannte Option: " + a);
    } else {
      break;
    }
  }
  if (i >= args.size()) return UsageError("Kein Befehl angegeben.");
  const VerbInfo* verb = VerbRegistry::Find(args[i]);
  if (!verb) return UsageError("Unbekannter Befehl: " + args[i]);

  if (progDir.empty() || !platform::DirectoryExists(progDir)) {
    PrintError("Das Programmverzeichnis " + progDir + " existiert nicht.");
    return kExitFailure;
  }
  CtlContext ctx;
  ctx.progDir = hostenv::AddBackslash(platform::CanonicalPath(progDir));
  ctx.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i + 1), args.end());
  hostenv::SetHostProgramDirectory(ctx.progDir);
  StderrDialog dialog;
  platform::ScopedUserDialog scoped(dialog);
  try {
    return verb->run(ctx);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return kExitFailure;
  }
}
