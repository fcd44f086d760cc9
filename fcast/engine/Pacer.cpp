#include "fcast/engine/Pacer.h"

#include <time.h>

#include <algorithm>

namespace ondavox::fcast {
namespace {

constexpr double kBatchSeconds = 0.0005;
constexpr double kMaxCreditSeconds = 0.02;

void SleepUntil(Pacer::Clock::time_point when) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(ns.count() % 1000000000);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

}  // namespace

Pacer::Pacer(std::int64_t bytesPerSecond)
    : rate_(static_cast<double>(std::max<std::int64_t>(bytesPerSecond, 1))), start_(Clock::now()) {}

int Pacer::BatchSize(std::size_t datagramBytes, int limit) const {
  const double perBatch =
      rate_ * kBatchSeconds / static_cast<double>(std::max<std::size_t>(datagramBytes, 1));
  return std::clamp(static_cast<int>(perBatch), 1, limit);
}

bool Pacer::WaitFor(std::size_t bytes, Clock::time_point latest) {
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  // Credit left over from idle time is capped: the schedule restarts a little in the past.
  if (elapsed * rate_ - sent_ > kMaxCreditSeconds * rate_) {
    sent_ = elapsed * rate_ - kMaxCreditSeconds * rate_;
  }
  const double due = (sent_ + static_cast<double>(bytes)) / rate_;
  const auto when =
      start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due));
  if (when <= now) return true;
  if (when > latest) {
    SleepUntil(latest);
    return false;
  }
  SleepUntil(when);
  return true;
}

}  // namespace ondavox::fcast
