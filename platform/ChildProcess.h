#pragma once
// A child process started from an argument vector (never through a shell),
// with pipes to its standard input and output. Tests use it to run real
// programs side by side.
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program path. `env` entries "NAME=value" are added to
  // (or replace in) the current environment. Standard error is inherited
  // unless captureStderr.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             bool captureStderr = false);
  bool WriteLine(const std::string& line);
  void CloseInput();
  // One line of standard output without its "\n"; false at end of output.
  bool ReadLine(std::string& line);
  std::string ReadAllOutput();
  std::string ReadAllError();
  // Exit code, or 128 + signal number.
  int Wait();
  void Kill();
  int Pid() const { return pid_; }
  // Reads standard output and error (when captured) to their ends together.
  void DrainOutputs(std::string& out, std::string& err);

 private:
  int pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outBuf_;
};

struct ProcessResult {
  int exitCode = -1;
  std::string out, err;
};

// Runs to the end with empty input.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

}  // namespace platform
