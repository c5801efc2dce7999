#include "platform/Paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "platform/Encoding.h"

namespace platform {

std::string NativeSeparators(std::string_view path) {
  std::string r(path);
  for (char& c : r)
    if (c == '\\' || c == '/') c = kPathSep;
  return r;
}

std::string JoinPath(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  std::string r(a);
  if (r.back() != kPathSep) r += kPathSep;
  while (!b.empty() && b.front() == kPathSep) b.remove_prefix(1);
  r += b;
  return r;
}

std::string FileNamePart(std::string_view path) {
  const auto p = path.find_last_of("/\\");
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string DirectoryPart(std::string_view path) {
  const auto p = path.find_last_of("/\\");
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtensionPart(std::string_view path) {
  const std::string name = FileNamePart(path);
  const auto p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string ChangeExtension(std::string_view path, std::string_view ext) {
  const std::string dir = DirectoryPart(path);
  std::string name = FileNamePart(path);
  const auto p = name.rfind('.');
  if (p != std::string::npos) name.erase(p);
  return dir + name + std::string(ext);
}

std::vector<std::string> ListDirectory(std::string_view dir) {
  std::vector<std::string> names;
  const std::string d = dir.empty() ? std::string(".") : std::string(dir);
  std::unique_ptr<DIR, int (*)(DIR*)> h(opendir(d.c_str()), closedir);
  if (!h) return names;
  while (dirent* e = readdir(h.get())) {
    const std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    names.emplace_back(n);
  }
  return names;
}

std::optional<std::string> FindNoCase(std::string_view dir, std::string_view name) {
  const std::string d = dir.empty() ? std::string(".") : std::string(dir);
  struct stat st {};
  if (lstat(JoinPath(d, name).c_str(), &st) == 0) return std::string(name);
  std::optional<std::string> found;
  for (const auto& n : ListDirectory(d)) {
    if (EqualsNoCase(n, name)) {
      if (!found || n < *found) found = n;  // deterministic among several
    }
  }
  return found;
}

std::string ResolveNoCase(std::string_view path) {
  const std::string p = NativeSeparators(path);
  struct stat st {};
  if (p.empty() || stat(p.c_str(), &st) == 0) return p;
  std::string resolved;
  std::size_t pos = 0;
  if (p.front() == kPathSep) {
    resolved = "/";
    pos = 1;
  }
  while (pos <= p.size()) {
    const auto next = p.find(kPathSep, pos);
    const std::string comp = p.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    if (!comp.empty()) {
      const std::string base = resolved.empty() ? std::string(".") : resolved;
      const auto hit = (comp == "." || comp == "..") ? std::optional<std::string>(comp)
                                                     : FindNoCase(base, comp);
      if (!hit) {
        // Nothing on disk from here on: keep the rest as given.
        std::string rest = p.substr(pos);
        return resolved.empty() ? rest : JoinPath(resolved, rest);
      }
      resolved = resolved.empty() ? *hit : JoinPath(resolved, *hit);
    }
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  if (!p.empty() && p.back() == kPathSep && (resolved.empty() || resolved.back() != kPathSep))
    resolved += kPathSep;
  return resolved;
}

bool FileExists(std::string_view path) {
  struct stat st {};
  return stat(std::string(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsRegularFile(std::string_view path) { return FileExists(path); }

bool DirectoryExists(std::string_view path) {
  struct stat st {};
  return stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace platform
