#include "tests/lab/HostProcess.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

#include "tests/support/TempDir.h"

namespace ondavox::lab {

HostProcess::HostProcess(pid_t pid, std::filesystem::path output, std::filesystem::path errors)
    : pid_(pid), output_(std::move(output)), errors_(std::move(errors)) {}

HostProcess::~HostProcess() { Kill(); }

std::string HostProcess::Output() const { return test::ReadFile(output_); }

std::string HostProcess::Errors() const { return test::ReadFile(errors_); }

bool HostProcess::Reap(bool block) {
  if (exit_code_) return true;
  int status = 0;
  pid_t done = 0;
  do {
    done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  if (done < 0) {
    exit_code_ = -1;  // not our child any more: nothing left to wait for
  } else if (WIFEXITED(status)) {
    exit_code_ = WEXITSTATUS(status);
  } else {
    exit_code_ = 128 + WTERMSIG(status);
  }
  // Whatever the program started in its group goes with it.
  ::kill(-pid_, SIGKILL);
  return true;
}

std::optional<int> HostProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exit_code_;
}

bool HostProcess::Running() { return !Reap(false); }

void HostProcess::Signal(int signal) {
  if (!exit_code_) ::kill(-pid_, signal);
}

int HostProcess::Kill() {
  if (!exit_code_) {
    ::kill(-pid_, SIGKILL);
    Reap(true);
  }
  return *exit_code_;
}

}  // namespace ondavox::lab
