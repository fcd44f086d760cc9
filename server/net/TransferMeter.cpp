#include "server/net/TransferMeter.h"

#include <algorithm>

#include "common/ByteFormat.h"

namespace ondavox::server {

std::optional<TransferFigures> TransferMeter::Sample(
    const std::optional<FcastSenderThread::Progress>& progress,
    std::chrono::steady_clock::time_point now) {
  if (!progress) {
    previous_.reset();
    return std::nullopt;
  }
  TransferFigures figures;
  figures.file = progress->entry.fileName();
  figures.bytesSent = progress->bytesSent;
  figures.bytesToSend = progress->fileSize * progress->rounds;
  figures.round = progress->round;
  figures.rounds = progress->rounds;
  const double seconds = std::chrono::duration<double>(now - at_).count();
  // The counts start again with each file.
  if (previous_ && previous_->file == figures.file && previous_->bytesSent <= figures.bytesSent &&
      seconds > 0) {
    figures.bytesPerSecond =
        static_cast<double>(figures.bytesSent - previous_->bytesSent) / seconds;
  }
  previous_ = figures;
  at_ = now;
  return figures;
}

std::string TransferMeter::StatusText(const TransferFigures& figures) {
  const long long percent =
      figures.bytesToSend > 0 ? std::min(figures.bytesSent * 100 / figures.bytesToSend, 100LL) : 0;
  return "Sending " + figures.file + ": " + ByteCountText(static_cast<double>(figures.bytesSent)) +
         " of " + ByteCountText(static_cast<double>(figures.bytesToSend)) + " (" +
         std::to_string(percent) + "%), " +
         (figures.bytesPerSecond ? ByteRateText(*figures.bytesPerSecond) + ", " : "") + "round " +
         std::to_string(std::min(figures.round, std::max(figures.rounds, 1L))) + " of " +
         std::to_string(figures.rounds);
}

}  // namespace ondavox::server
