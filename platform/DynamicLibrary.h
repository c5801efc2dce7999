#pragma once
// A shared library loaded at run time, unloaded when the object dies.
#include <string>

namespace platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads by path (or by name through the loader's search when `path` has no
  // separator). False with *error set on failure.
  bool Load(const std::string& path, std::string* error = nullptr);
  void Unload();
  bool Loaded() const { return handle_ != nullptr; }
  // Null when the library has no such entry.
  void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
