#pragma once
// The verbs of ust2020ctl. Each verb lives in a source file of its own and
// registers itself with one static VerbRegistration:
//
//   static const VerbRegistration kMandanten{
//       {"mandanten", "[--tsv]", "listet die Mandanten der Installation", &RunMandanten}};
//
// main.cpp parses the global options, finds the verb and runs it with the
// remaining arguments.
#include <string>
#include <vector>

namespace ust2020ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CtlContext {
  std::string progDir;            // the installation's program directory, with separator
  std::vector<std::string> args;  // arguments after the verb
};

using VerbFunction = int (*)(CtlContext&);

struct VerbInfo {
  const char* name;
  const char* arguments;    // for the usage text, e.g. "[--tsv]"
  const char* description;  // German, one line
  VerbFunction run;
};

class VerbRegistry {
 public:
  static void Add(const VerbInfo& verb);
  static const VerbInfo* Find(const std::string& name);
  static std::vector<VerbInfo> All();  // sorted by name
};

struct VerbRegistration {
  explicit VerbRegistration(const VerbInfo& verb) { VerbRegistry::Add(verb); }
};

// Errors go to stderr as "ust2020ctl: <text>", the host's "\r\n" as line breaks.
void PrintError(const std::string& text);
// A usage error: the text, then the usage; returns kExitUsage.
int UsageError(const std::string& text);

}  // namespace ust2020ctl
