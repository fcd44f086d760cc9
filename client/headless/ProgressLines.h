#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "client/core/ReceptionMeter.h"

namespace ondavox::client {

// ondavox-recv's progress lines ("[PROGRESS] clip.avi 42% 1.8 MB/s"): one at most every
// kPeriod while a file is coming in, written to the output beside the client log and never
// into it, so no log holds them. Owns the ReceptionMeter over the receiver object.
//
// Made and ticked by HeadlessClient::Run on the main thread.
class ProgressLines {
 public:
  static constexpr std::chrono::seconds kPeriod{1};

  ProgressLines(std::shared_ptr<FcastReceiverObject> receiver, int outputFd);

  // Writes a line when a file is coming in and kPeriod has passed since the last sample.
  void Tick(std::chrono::steady_clock::time_point now);

 private:
  ReceptionMeter meter_;
  const int fd_;
  std::optional<std::chrono::steady_clock::time_point> sampled_;
};

}  // namespace ondavox::client
