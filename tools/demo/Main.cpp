// ust2020demo: writes a demo installation of the host product.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DemoInstall.h"
#include "platform/Paths.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "Aufruf: ust2020demo [--mandanten N] [--konten N] [--fremder-schluessel-67] ZIELVERZEICHNIS\n"
               "  --mandanten N            Anzahl Mandanten (Standard 4)\n"
               "  --konten N               Konten je Kontenrahmen (Standard 1200, höchstens 1000000)\n"
               "  --fremder-schluessel-67  der zweite Mandant hat einen eigenen Steuerschlüssel 67\n"
               "Das Programmverzeichnis ist ZIELVERZEICHNIS/Programm.\n");
  return 2;
}

bool ParseCount(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  demo::TDemoOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    long value = 0;
    if (arg == "--mandanten" && i + 1 < argc && ParseCount(argv[i + 1], 1, 99, value)) {
      options.Mandanten = static_cast<int>(value);
      ++i;
    } else if (arg == "--konten" && i + 1 < argc && ParseCount(argv[i + 1], 1, 1000000, value)) {
      options.Accounts = static_cast<std::int32_t>(value);
      ++i;
    } else if (arg == "--fremder-schluessel-67") {
      options.Foreign67 = true;
    } else if (!arg.empty() && arg[0] != '-' && options.Root.empty()) {
      options.Root = arg;
    } else {
      return Usage();
    }
  }
  if (options.Root.empty()) return Usage();
  std::string error;
  if (!demo::WriteInstallation(options, error)) {
    std::fprintf(stderr, "ust2020demo: %s\n", error.c_str());
    return 1;
  }
  if (options.Root.front() != '/') options.Root = platform::JoinPath(platform::CurrentDirectory(), options.Root);
  std::printf("%s\n", demo::ProgramDirOf(options.Root).c_str());
  return 0;
}
