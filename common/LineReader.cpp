#include "common/LineReader.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ondavox {

LineReader::LineReader(ReadFn read) : read_(std::move(read)) {}

LineReader LineReader::ForSocket(int fd) {
  return LineReader([fd](char* buffer, std::size_t capacity) -> long {
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, capacity, 0);
      if (n >= 0 || errno != EINTR) return n;
    }
  });
}

std::size_t LineReader::DiscardBuffered() {
  const std::size_t dropped = end_ - begin_;
  begin_ = end_ = 0;
  return dropped;
}

bool LineReader::Fill() {
  const long n = read_(buffer_, kBufferSize);
  if (n <= 0) {
    failed_ = n < 0;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(n);
  return true;
}

std::optional<std::string> LineReader::ReadLine() {
  std::string line;
  failed_ = false;
  for (;;) {
    if (begin_ == end_ && !Fill()) {
      if (failed_ || line.empty()) return std::nullopt;
      return line;
    }
    const char* start = buffer_ + begin_;
    const char* stop = buffer_ + end_;
    const char* feed = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    const char* chunkEnd = feed != nullptr ? feed : stop;

    if (discarding_) {
      begin_ = static_cast<std::size_t>(chunkEnd - buffer_);
      if (feed != nullptr) {
        ++begin_;
        discarding_ = false;
      }
      continue;
    }

    const char* p = start;
    while (p != chunkEnd) {
      if (*p == '\r') {
        ++p;
        continue;
      }
      if (line.size() == kMaxLine) {
        // An over-long line: deliver what fits and drop the rest of it, line feed included.
        begin_ = static_cast<std::size_t>(p - buffer_);
        discarding_ = true;
        return line;
      }
      const char* cr = static_cast<const char*>(std::memchr(p, '\r', chunkEnd - p));
      const std::size_t run = static_cast<std::size_t>((cr != nullptr ? cr : chunkEnd) - p);
      const std::size_t take = std::min(run, kMaxLine - line.size());
      line.append(p, take);
      p += take;
    }
    begin_ = static_cast<std::size_t>(chunkEnd - buffer_);
    if (feed != nullptr) {
      ++begin_;
      if (line.empty()) return std::nullopt;
      return line;
    }
  }
}

}  // namespace ondavox
