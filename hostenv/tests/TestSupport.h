#pragma once
// Temporary folders and XDG variables for the host-environment tests: every
// store, per-user copy and module count lands below one temporary folder.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace hostenv::test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "hostenv-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // With trailing separator.
  std::string Path() const { return path_ + "/"; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Points every XDG location into `root` for the object's lifetime.
class ScopedXdg {
 public:
  explicit ScopedXdg(const std::string& root) {
    Set("XDG_CONFIG_HOME", root + "config");
    Set("XDG_DATA_HOME", root + "data");
    Set("XDG_CONFIG_DIRS", root + "etc");
    Set("XDG_DATA_DIRS", root + "share");
    Set("XDG_RUNTIME_DIR", root + "run");
    Set("SSH_CONNECTION", "");
    Set("SSH_CLIENT", "");
    Set("DISPLAY", "");
    std::filesystem::create_directories(root + "run");
  }
  ~ScopedXdg() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }
  ScopedXdg(const ScopedXdg&) = delete;
  ScopedXdg& operator=(const ScopedXdg&) = delete;

  void Set(const std::string& name, const std::string& value) {
    const char* old = ::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace hostenv::test
