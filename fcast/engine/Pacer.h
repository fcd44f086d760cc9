#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// Paces datagrams to a byte rate on an absolute schedule, so that sleeping late is made up by
// the next batch and the long-run rate stays exact. High rates go in batches (one system call
// for several datagrams) of about half a millisecond of traffic. Time lost while the thread
// was not running is made up, up to 20 ms of it (a short burst at most); longer idle time earns
// no credit. Owned by the sending thread.
class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Pacer(std::int64_t bytesPerSecond);

  // How many datagrams of |datagramBytes| to send at once at this rate (1 to |limit|).
  int BatchSize(std::size_t datagramBytes, int limit) const;
  // Sleeps until |bytes| more may go, but never past |latest|; true when they may go now.
  bool WaitFor(std::size_t bytes, Clock::time_point latest);
  // Records |bytes| as sent.
  void Sent(std::size_t bytes) { sent_ += static_cast<double>(bytes); }

 private:
  double rate_;  // bytes per second
  Clock::time_point start_;
  double sent_ = 0;  // bytes accounted since start_
};

}  // namespace ondavox::fcast
