#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string ReadToEnd(int fd) {
  std::string s;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    Kill();
    Wait();
  }
  CloseFd(in_);
  CloseFd(out_);
  CloseFd(err_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         bool captureStderr) {
  if (argv.empty() || pid_ > 0) return false;
  int inPipe[2], outPipe[2], errPipe[2] = {-1, -1};
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    ::close(inPipe[0]);
    ::close(inPipe[1]);
    return false;
  }
  if (captureStderr && ::pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) ::close(fd);
    return false;
  }
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string cur = *e;
    const auto eq = cur.find('=');
    bool replaced = false;
    for (const auto& add : env) {
      if (add.compare(0, add.find('=') + 1, cur, 0, eq + 1) == 0) replaced = true;
    }
    if (!replaced) envStrings.push_back(cur);
  }
  for (const auto& add : env) envStrings.push_back(add);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(inPipe[0], 0);
    ::dup2(outPipe[1], 1);
    if (captureStderr) ::dup2(errPipe[1], 2);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  pid_ = pid;
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  if (captureStderr) {
    ::close(errPipe[1]);
    err_ = errPipe[0];
  }
  return true;
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (in_ < 0) return false;
  const std::string data = line + "\n";
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(in_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void ChildProcess::CloseInput() { CloseFd(in_); }

bool ChildProcess::ReadLine(std::string& line) {
  for (;;) {
    const auto nl = outBuf_.find('\n');
    if (nl != std::string::npos) {
      line = outBuf_.substr(0, nl);
      outBuf_.erase(0, nl + 1);
      return true;
    }
    if (out_ < 0) return false;
    char buf[1024];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseFd(out_);
      if (outBuf_.empty()) return false;
      line.swap(outBuf_);
      outBuf_.clear();
      return true;
    }
    outBuf_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string ChildProcess::ReadAllOutput() {
  std::string s;
  s.swap(outBuf_);
  if (out_ >= 0) {
    s += ReadToEnd(out_);
    CloseFd(out_);
  }
  return s;
}

std::string ChildProcess::ReadAllError() {
  if (err_ < 0) return {};
  std::string s = ReadToEnd(err_);
  CloseFd(err_);
  return s;
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void ChildProcess::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

void ChildProcess::DrainOutputs(std::string& out, std::string& err) {
  out.swap(outBuf_);
  outBuf_.clear();
  while (out_ >= 0 || err_ >= 0) {
    struct pollfd pfd[2];
    int n = 0;
    if (out_ >= 0) pfd[n++] = {out_, POLLIN, 0};
    if (err_ >= 0) pfd[n++] = {err_, POLLIN, 0};
    if (::poll(pfd, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!(pfd[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t r = ::read(pfd[i].fd, buf, sizeof buf);
      if (r < 0 && errno == EINTR) continue;
      std::string& target = pfd[i].fd == out_ ? out : err;
      if (r <= 0) {
        if (pfd[i].fd == out_) CloseFd(out_); else CloseFd(err_);
      } else {
        target.append(buf, static_cast<std::size_t>(r));
      }
    }
  }
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  ProcessResult r;
  ChildProcess p;
  if (!p.Start(argv, env, true)) return r;
  p.CloseInput();
  p.DrainOutputs(r.out, r.err);
  r.exitCode = p.Wait();
  return r;
}

}  // namespace platform
