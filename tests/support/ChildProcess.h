#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace ondavox::test {

// A program the test runs as a child process: started in |directory| with its standard output
// going to |output| and its standard error to |errors| (to |output| too when empty), the
// variables named in |unset| removed from its environment. Killed and reaped when the object
// goes. The test's thread only.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& directory,
               const std::filesystem::path& output, const std::vector<std::string>& unset = {},
               const std::filesystem::path& errors = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int signal) const;
  // The exit status, or -1 when it was killed by a signal or did not end within |timeout|.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  pid_t pid_ = -1;
};

}  // namespace ondavox::test
