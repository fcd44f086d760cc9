#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/lab/HostProcess.h"

namespace ondavox::lab {

// What a program run to its end inside a namespace left behind.
struct CommandResult {
  int exit_code = -1;  // 128 + signal when a signal ended it; -1 when it could not start
  std::string output;  // standard output followed by standard error
};

// One network namespace with no name: it starts empty (a loopback that is down) and lives
// while this object, or a program started in it, does. A small holder process keeps it; the
// holder ends by itself when the process that made it goes away, however that happens, so no
// namespace outlives a crashed test. Nothing is created in the file system or in the caller's
// own namespace.
//
// Made and used by one test thread (programs started here are killed when that thread ends);
// RunInside may be called from any thread.
class NetNamespace {
 public:
  // Makes a namespace. On failure returns nothing and sets |error|.
  static std::unique_ptr<NetNamespace> Create(std::string* error);
  ~NetNamespace();
  NetNamespace(const NetNamespace&) = delete;
  NetNamespace& operator=(const NetNamespace&) = delete;

  // A process inside the namespace, for commands that take one ("ip link set X netns PID").
  pid_t HolderPid() const { return holder_; }

  // Starts |argv| (argv[0] looked up in PATH when it has no '/') inside the namespace, in a
  // process group of its own, its standard output and error written to |output_prefix| with
  // ".out" and ".err" appended. On failure returns nothing and sets |error|.
  std::unique_ptr<HostProcess> Start(const std::vector<std::string>& argv,
                                     const std::filesystem::path& output_prefix, std::string* error);
  // Starts |argv| and waits up to |timeout| for it to end; a program still running then is killed.
  CommandResult Run(const std::vector<std::string>& argv, const std::filesystem::path& output_prefix,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

  // Runs |work| on a short-lived thread that has entered the namespace, and waits for it;
  // sockets it opens belong to the namespace for good. False when the thread could not enter.
  bool RunInside(const std::function<void()>& work) const;

 private:
  NetNamespace(pid_t holder, int namespace_fd, int keep_alive_fd);

  pid_t holder_;
  int namespace_fd_;
  int keep_alive_fd_;  // the holder leaves when this pipe end closes
};

// The absolute path of |program|: itself when it holds a '/', else its place in PATH, else empty.
std::string FindProgram(const std::string& program);

}  // namespace ondavox::lab
