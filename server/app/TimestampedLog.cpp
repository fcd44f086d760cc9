#include "server/app/TimestampedLog.h"

#include "platform/LineWriter.h"
#include "server/app/LogHistory.h"

namespace ondavox::server {

std::string TimestampedLog::Format(std::string_view line, std::time_t when) {
  std::string whole = LogHistory::LocalTime(when);
  whole.push_back(' ');
  whole.append(line);
  whole.push_back('\n');
  return whole;
}

void TimestampedLog::AppendLog(std::string_view line) {
  LineWriter::ForFd(fd_).Write(Format(line, std::time(nullptr)));
}

}  // namespace ondavox::server
