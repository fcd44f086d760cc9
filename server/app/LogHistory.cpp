#include "server/app/LogHistory.h"

#include <algorithm>

namespace ondavox::server {

std::string LogHistory::LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(stamp, length);
}

void LogHistory::Add(std::string_view text, std::time_t when) {
  Line line{LocalTime(when), std::string(text)};
  MutexLock lock(mu_);
  for (const auto& [id, follower] : followers_) follower(line);
  if (lines_.size() == kKept) lines_.pop_front();
  lines_.push_back(std::move(line));
}

std::vector<LogHistory::Line> LogHistory::LastLocked(std::size_t count) const {
  const std::size_t taken = std::min(count, lines_.size());
  return std::vector<Line>(lines_.end() - static_cast<std::ptrdiff_t>(taken), lines_.end());
}

std::vector<LogHistory::Line> LogHistory::Last(std::size_t count) const {
  MutexLock lock(mu_);
  return LastLocked(count);
}

int LogHistory::Follow(Follower follower, std::size_t count, std::vector<Line>* last) {
  MutexLock lock(mu_);
  *last = LastLocked(count);
  followers_.emplace(nextId_, std::move(follower));
  return nextId_++;
}

void LogHistory::Unfollow(int id) {
  MutexLock lock(mu_);
  followers_.erase(id);
}

}  // namespace ondavox::server
