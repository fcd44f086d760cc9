#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "server/app/ServerLog.h"

namespace ondavox::server {

// The log of the server without a window: each line goes to a file descriptor (the standard
// output) as one write, after the local time "YYYY-MM-DD HH:MM:SS ", through the descriptor's
// LineWriter: the same queue as the trace lines of that output, so the two keep their order and
// never interleave, and a reader who stopped reading never holds up the server (lines that do
// not fit are dropped and counted). Any thread.
class TimestampedLog final : public ServerLog {
 public:
  explicit TimestampedLog(int fd) : fd_(fd) {}

  void AppendLog(std::string_view line) override;
  // |line| as written at the time |when| (local time), line feed included.
  static std::string Format(std::string_view line, std::time_t when);

 private:
  const int fd_;
};

}  // namespace ondavox::server
