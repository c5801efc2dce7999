#include "hostenv/Application.h"

#include "platform/Process.h"

namespace hostenv {
namespace {

TApplicationHooks*& Installed() {
  static TApplicationHooks* hooks = nullptr;
  return hooks;
}

}  // namespace

TApplicationHooks& Application() {
  static TApplicationHooks fallback;
  TApplicationHooks* h = Installed();
  return h ? *h : fallback;
}

void SetApplication(TApplicationHooks* hooks) { Installed() = hooks; }

bool InDebugger() { return platform::TracerAttached(); }

}  // namespace hostenv
