// A stand-in module for the module-count tests: counts itself in the
// installation given as argument and answers commands read from stdin
// ("add", "remove", "count", "reset", "quit"), one line each; and, as a
// second writer of a settings file, "write <file> <prefix> <n>" writes the
// keys <prefix>0 .. <prefix>n-1 of section "Test" one by one.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "hostenv/IniFile.h"
#include "hostenv/ModuleCount.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!hostenv::OpenModuleCount(argv[1])) {
    std::printf("open failed\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::string cmd;
  while (std::getline(std::cin, cmd)) {
    if (cmd == "add") {
      hostenv::AddModule();
      std::printf("ok\n");
    } else if (cmd == "remove") {
      hostenv::RemoveModule();
      std::printf("ok\n");
    } else if (cmd == "count") {
      std::printf("%d\n", hostenv::GetModuleCount());
    } else if (cmd == "reset") {
      hostenv::ResetModuleCount();
      std::printf("ok\n");
    } else if (cmd.rfind("write ", 0) == 0) {
      std::istringstream in(cmd.substr(6));
      std::string file, prefix;
      int n = 0;
      in >> file >> prefix >> n;
      hostenv::TIniFile ini(file);
      for (int i = 0; i < n; ++i) ini.WriteString("Test", prefix + std::to_string(i), std::to_string(i));
      std::printf("ok\n");
    } else if (cmd == "quit") {
      break;
    } else {
      std::printf("?\n");
    }
    std::fflush(stdout);
  }
  hostenv::CloseModuleCount();
  return 0;
}
