#include "client/core/ReceptionMeter.h"

#include <algorithm>

#include "common/ByteFormat.h"

namespace ondavox::client {

ReceptionMeter::ReceptionMeter(std::shared_ptr<FcastReceiverObject> receiver)
    : receiver_(std::move(receiver)) {}

std::optional<ReceptionFigures> ReceptionMeter::Sample(std::chrono::steady_clock::time_point now) {
  long fileId = 0;
  long size = 0;
  long held = 0;
  long needed = 0;
  ReceptionFigures figures;
  if (receiver_ == nullptr ||
      receiver_->GetStatistics(&fileId, &figures.name, &size, &held, &needed) != kFcastOk ||
      figures.name.empty() || needed <= 0) {
    fileId_ = 0;
    return std::nullopt;
  }
  const double fraction = std::clamp(static_cast<double>(held) / needed, 0.0, 1.0);
  const double bytes = fraction * static_cast<double>(size);
  figures.size = size;
  figures.percent = static_cast<int>(fraction * 100);
  const double seconds = std::chrono::duration<double>(now - at_).count();
  if (fileId == fileId_ && seconds > 0) {
    figures.bytesPerSecond = std::max(bytes - bytes_, 0.0) / seconds;
  }
  fileId_ = fileId;
  bytes_ = bytes;
  at_ = now;
  return figures;
}

std::string ReceptionMeter::ProgressLine(const ReceptionFigures& figures) {
  std::string line = "[PROGRESS] " + figures.name + " " + std::to_string(figures.percent) + "%";
  if (figures.bytesPerSecond) line += " " + ByteRateText(*figures.bytesPerSecond);
  return line;
}

}  // namespace ondavox::client
