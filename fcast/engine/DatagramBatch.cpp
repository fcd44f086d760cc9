#include "fcast/engine/DatagramBatch.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "fcast/engine/Packet.h"

namespace ondavox::fcast {

DatagramBatch::DatagramBatch(int fd, Pacer& pacer, int size, const std::atomic<bool>& stop)
    : fd_(fd),
      pacer_(pacer),
      size_(size),
      stop_(stop),
      buffer_(static_cast<std::size_t>(size) * kMaxDatagram),
      lengths_(size) {}

std::uint8_t* DatagramBatch::Next() {
  return &buffer_[static_cast<std::size_t>(count_) * kMaxDatagram];
}

bool DatagramBatch::Commit(std::size_t length) {
  lengths_[count_++] = length;
  return count_ < size_ || Flush();
}

bool DatagramBatch::Flush() {
  if (count_ == 0) return !stop_.load();
  std::size_t total = 0;
  for (int i = 0; i < count_; ++i) total += lengths_[i];
  // Waits in slices so that a stop is seen soon even at the slowest rates.
  for (;;) {
    if (stop_.load()) return false;
    if (pacer_.WaitFor(total, Pacer::Clock::now() + std::chrono::milliseconds(100))) break;
  }
  std::vector<iovec> iov(count_);
  std::vector<mmsghdr> messages(count_);
  for (int i = 0; i < count_; ++i) {
    iov[i].iov_base = &buffer_[static_cast<std::size_t>(i) * kMaxDatagram];
    iov[i].iov_len = lengths_[i];
    messages[i] = {};
    messages[i].msg_hdr.msg_iov = &iov[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  int done = 0;
  while (done < count_) {
    const int n = ::sendmmsg(fd_, &messages[done], static_cast<unsigned>(count_ - done), 0);
    if (n > 0) {
      done += n;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == ENOBUFS || errno == EAGAIN) {
      ::usleep(200);
    } else {
      ++done;
    }
  }
  pacer_.Sent(total);
  count_ = 0;
  return true;
}

}  // namespace ondavox::fcast
