#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace platform {

DynamicLibrary::~DynamicLibrary() { Unload(); }

bool DynamicLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_ && error) {
    const char* e = ::dlerror();
    *error = e ? e : path;
  }
  return handle_ != nullptr;
}

void DynamicLibrary::Unload() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace platform
