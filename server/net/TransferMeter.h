#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "server/net/FcastSenderThread.h"

namespace ondavox::server {

// The transfer under way as the server window shows it.
struct TransferFigures {
  std::string file;
  long long bytesSent = 0;
  long long bytesToSend = 0;  // the file's size times the configured rounds
  // Since the previous sample of the same transfer; nothing at the transfer's first sample.
  std::optional<double> bytesPerSecond;
  long round = 1;
  long rounds = 0;
};

// Turns the Fcast sender thread's progress reports into TransferFigures, with the rate at
// which bytes went out between two samples of the same transfer. Owned by its one caller (the
// server window's status bar timer).
class TransferMeter {
 public:
  // The transfer of |progress| sampled at |now|; nothing between transfers.
  std::optional<TransferFigures> Sample(const std::optional<FcastSenderThread::Progress>& progress,
                                        std::chrono::steady_clock::time_point now);

  // "Sending clip.avi: 12.6 MB of 30.0 MB (42%), 1.2 MB/s, round 2 of 3".
  static std::string StatusText(const TransferFigures& figures);

 private:
  std::optional<TransferFigures> previous_;
  std::chrono::steady_clock::time_point at_;
};

}  // namespace ondavox::server
