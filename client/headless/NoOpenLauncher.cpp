#include "client/headless/NoOpenLauncher.h"

#include "client/core/ClientLog.h"

namespace ondavox::client {

bool NoOpenLauncher::Launch(const std::string& program, const std::vector<std::string>& args) {
  AppendLog((args.empty() ? std::string() : args.back()) + " (not opened with " + program + ")",
            "KEPT");
  return true;
}

bool NoOpenLauncher::OpenWithDesktop(const std::string& path) {
  AppendLog(path + " (not opened)", "KEPT");
  return true;
}

}  // namespace ondavox::client
