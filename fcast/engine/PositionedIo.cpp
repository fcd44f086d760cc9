#include "fcast/engine/PositionedIo.h"

#include <unistd.h>

#include <cerrno>

namespace ondavox::fcast {

namespace {

// Repeats |call| (pread or pwrite) until all |length| bytes are done.
template <typename Byte, typename Call>
bool Whole(int fd, Byte* bytes, std::size_t length, std::uint64_t offset, Call call) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = call(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadAt(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset) {
  return Whole(fd, out, length, offset, ::pread);
}

bool WriteAt(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset) {
  return Whole(fd, data, length, offset, ::pwrite);
}

}  // namespace ondavox::fcast
