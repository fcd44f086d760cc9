#include "server/app/TimestampedLog.h"

#include <unistd.h>

namespace ondavox::server {

std::string TimestampedLog::Format(std::string_view line, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
  std::string whole(stamp, length);
  whole.append(line);
  whole.push_back('\n');
  return whole;
}

void TimestampedLog::AppendLog(std::string_view line) {
  const std::string whole = Format(line, std::time(nullptr));
  std::string_view rest = whole;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd_, rest.data(), rest.size());
    if (written <= 0) return;  // a closed output never stops the server
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace ondavox::server
