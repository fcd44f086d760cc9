#include "client/core/ClientLog.h"

#include <cstdio>
#include <ctime>

namespace ondavox::client {
namespace {

ClientLog::LocalTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return {parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace

ClientLog::ClientLog(Clock clock) : clock_(clock ? std::move(clock) : Clock(SystemLocalTime)) {}

ClientLog& ClientLog::Process() {
  // Never destroyed: objects destroyed at process exit (the runner closing its session) still
  // log.
  static ClientLog* const log = new ClientLog;
  return *log;
}

std::string ClientLog::FormatLine(const LocalTime& time, std::string_view tag,
                                  std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", time.hours, time.minutes, time.seconds);
  std::string line(stamp);
  line += " > ";
  if (!tag.empty()) {
    line += '[';
    line += tag;
    line += "] ";
  }
  line += text;
  return line;
}

void ClientLog::Append(std::string_view text, std::string_view tag) {
  MutexLock lock(mu_);
  // The time is taken under the lock, so the stamps of the lines never go backwards.
  std::string line = FormatLine(clock_(), tag, text);
  if (box_ != nullptr) {
    box_->AppendLine(line);
  } else {
    kept_.push_back(std::move(line));
  }
}

void ClientLog::SetLogBox(LogBox* box) {
  MutexLock lock(mu_);
  box_ = box;
  if (box_ == nullptr) return;
  for (const std::string& line : kept_) box_->AppendLine(line);
  kept_.clear();
}

void AppendLog(std::string_view text, std::string_view tag) {
  ClientLog::Process().Append(text, tag);
}

}  // namespace ondavox::client
