#pragma once

#include <string>
#include <vector>

#include "platform/Launcher.h"

namespace ondavox::client {

// The launcher of `ondavox-recv --no-open`: starts nothing and logs, with tag "KEPT", the file
// that would have been opened, so the log still shows what arrived and where. Any thread (the
// Fcast receiver's event thread).
class NoOpenLauncher final : public Launcher {
 public:
  // |args| ends with the received file's path.
  bool Launch(const std::string& program, const std::vector<std::string>& args) override;
  bool OpenWithDesktop(const std::string& path) override;
};

}  // namespace ondavox::client
