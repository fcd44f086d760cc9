#include "client/headless/ProgressLines.h"

#include "platform/LineWriter.h"

namespace ondavox::client {

ProgressLines::ProgressLines(std::shared_ptr<FcastReceiverObject> receiver, int outputFd)
    : meter_(std::move(receiver)), fd_(outputFd) {}

void ProgressLines::Tick(std::chrono::steady_clock::time_point now) {
  if (sampled_ && now - *sampled_ < kPeriod) return;
  sampled_ = now;
  if (const std::optional<ReceptionFigures> figures = meter_.Sample(now)) {
    LineWriter::ForFd(fd_).Write(ReceptionMeter::ProgressLine(*figures) + "\n");
  }
}

}  // namespace ondavox::client
