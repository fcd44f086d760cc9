#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/FcastComponent.h"

namespace ondavox::client {

// The reception of one file as the client shows it.
struct ReceptionFigures {
  std::string name;
  std::int64_t size = 0;
  int percent = 0;            // of the symbols needed, 0 to 100
  // Of the file rebuilt since the previous sample of the file; nothing at the file's first sample.
  std::optional<double> bytesPerSecond;
};

// Turns the receiver object's statistics into ReceptionFigures: the percent of the symbols
// held, and the rate at which the file's bytes came in between two samples of the same file.
// Owned by the one caller that samples it (the client window's timer, ondavox-recv's main
// thread); the receiver object is shared with the client core.
class ReceptionMeter {
 public:
  // |receiver| may be null: then no file is ever coming in.
  explicit ReceptionMeter(std::shared_ptr<FcastReceiverObject> receiver);

  // The file coming in at |now|; nothing between files.
  std::optional<ReceptionFigures> Sample(std::chrono::steady_clock::time_point now);

  // "[PROGRESS] clip.avi 42% 1.8 MB/s": the line ondavox-recv prints.
  static std::string ProgressLine(const ReceptionFigures& figures);

 private:
  const std::shared_ptr<FcastReceiverObject> receiver_;
  long fileId_ = 0;  // of the previous sample; 0: none
  double bytes_ = 0;
  std::chrono::steady_clock::time_point at_;
};

}  // namespace ondavox::client
