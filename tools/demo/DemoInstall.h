#pragma once
// Writes a complete demo installation of the host product: program
// directory with the Mandant settings files, the definition files and the
// information text, and per Mandant an accounting directory with its
// tax-key table, account table, indexes and full-text file.
#include <cstdint>
#include <string>

namespace demo {

struct TDemoOptions {
  std::string Root;                 // the installation is written below it
  int Mandanten = 4;                // at least 1
  std::int32_t Accounts = 1200;     // accounts per chart, at least the standard ones
  bool Foreign67 = false;           // the second Mandant has a host key 67 of its own
};

// The program directory inside the root (holds ZEMPA.INI).
std::string ProgramDirOf(const std::string& ARoot);

// False with the reason in `AError` on any failure.
bool WriteInstallation(const TDemoOptions& AOptions, std::string& AError);

}  // namespace demo
