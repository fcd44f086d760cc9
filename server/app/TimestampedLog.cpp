#include "server/app/TimestampedLog.h"

#include "platform/LineWriter.h"

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
  LineWriter::ForFd(fd_).Write(Format(line, std::time(nullptr)));
}

}  // namespace ondavox::server
