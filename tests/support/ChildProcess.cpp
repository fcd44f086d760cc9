#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <thread>

namespace ondavox::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::filesystem::path& directory,
                           const std::filesystem::path& output,
                           const std::vector<std::string>& unset,
                           const std::filesystem::path& errors) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Built before the fork: the child only makes system calls.
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const bool removed = std::any_of(unset.begin(), unset.end(), [&](const std::string& name) {
      return variable.starts_with(name + "=");
    });
    if (!removed) environment.push_back(*entry);
  }
  environment.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ != 0) return;
  const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errorFd =
      errors.empty() ? fd : ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || errorFd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 ||
      ::dup2(errorFd, STDERR_FILENO) < 0 || ::chdir(directory.c_str()) != 0) {
    ::_exit(127);
  }
  ::execve(args[0], args.data(), environment.data());
  ::_exit(127);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

}  // namespace ondavox::test
