#pragma once
// A fresh temporary directory per test, removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Files.h"

namespace conversion::testing {

class TTestDir {
 public:
  TTestDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ust-conv-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    FPath = tmpl;
  }
  ~TTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTestDir(const TTestDir&) = delete;
  TTestDir& operator=(const TTestDir&) = delete;

  const std::string& Path() const { return FPath; }
  // The directory with its trailing separator, as the engine takes it.
  std::string Dir() const { return FPath + "/"; }
  std::string File(std::string_view name) const { return FPath + "/" + std::string(name); }
  void Write(std::string_view name, std::string_view data) const {
    if (!platform::WriteFileAtomic(File(name), data)) std::abort();
  }

 private:
  std::string FPath;
};

}  // namespace conversion::testing
