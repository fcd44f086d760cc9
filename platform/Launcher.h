#pragma once

#include <string>
#include <vector>

namespace ondavox {

// Starts other programs: never through a shell, every argument passed as one argument, the
// caller never waiting (each child is reaped by a small waiter thread of its own). Any thread.
//
// Callers that open received files hold a Launcher reference so tests can record the launches.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Runs |program| (looked up in PATH when it has no '/') with |args|. False when it could not
  // be started.
  virtual bool Launch(const std::string& program, const std::vector<std::string>& args) = 0;
  // Opens |path| with the desktop's handler for its type (xdg-open).
  virtual bool OpenWithDesktop(const std::string& path) = 0;
};

// The real launcher over posix_spawnp.
class ProcessLauncher final : public Launcher {
 public:
  bool Launch(const std::string& program, const std::vector<std::string>& args) override;
  bool OpenWithDesktop(const std::string& path) override;
};

}  // namespace ondavox
