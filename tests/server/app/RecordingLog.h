#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Mutex.h"
#include "server/app/ServerLog.h"

namespace ondavox::test {

using server::ServerLog;

// A server log that keeps every line, from any thread.
class RecordingLog final : public ServerLog {
 public:
  void AppendLog(std::string_view line) override EXCLUDES(mu_) {
    MutexLock lock(mu_);
    lines_.emplace_back(line);
  }
  std::vector<std::string> Lines() const EXCLUDES(mu_) {
    MutexLock lock(mu_);
    return lines_;
  }

 private:
  mutable Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
};

}  // namespace ondavox::test
