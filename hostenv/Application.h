#pragma once
// What the host layer asks of the running application. The wizard installs
// its own implementation (ending its event loop); tools and tests use the
// default, which only records the request.
namespace hostenv {

class TApplicationHooks {
 public:
  virtual ~TApplicationHooks() = default;
  // Ends the application when control next returns to its event loop.
  virtual void RequestTerminate() { FTerminateRequested = true; }
  bool TerminateRequested() const { return FTerminateRequested; }
  void ClearTerminateRequest() { FTerminateRequested = false; }

 protected:
  bool FTerminateRequested = false;
};

// The process-wide hooks; SetApplication(nullptr) restores the default.
TApplicationHooks& Application();
void SetApplication(TApplicationHooks* hooks);

// A debugger (tracer) is attached to the process.
bool InDebugger();

}  // namespace hostenv
