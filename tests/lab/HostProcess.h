#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace ondavox::lab {

// One program started inside a lab host by NetNamespace::Start: its process group, and the
// files that its standard output and standard error go to. The object owns the process: its
// destructor kills the whole group (SIGKILL) and reaps it, so a failing test leaves nothing
// running. Not thread safe; used by the test thread that started it.
class HostProcess {
 public:
  HostProcess(pid_t pid, std::filesystem::path output, std::filesystem::path errors);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Everything the program wrote so far to its standard output, or to its standard error.
  std::string Output() const;
  std::string Errors() const;

  // Waits up to |timeout| for the program to end. Returns its exit code (128 + the signal
  // number when a signal ended it), or nothing when it is still running.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  bool Running();
  // Sends |signal| to the program's process group.
  void Signal(int signal);
  // Ends the program and everything it started (SIGKILL) and reaps it. Returns the exit code.
  int Kill();

 private:
  bool Reap(bool block);

  pid_t pid_;
  std::filesystem::path output_;
  std::filesystem::path errors_;
  std::optional<int> exit_code_;
};

}  // namespace ondavox::lab
