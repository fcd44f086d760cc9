#include "fcast/engine/ReceiveBatch.h"

#include <netinet/udp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ondavox::fcast {
namespace {

constexpr std::size_t kPlainBuffer = 2048;     // more than any valid datagram
constexpr std::size_t kCoalescedBuffer = 65535;  // more than the system coalesces
constexpr std::size_t kControlSpace = CMSG_SPACE(sizeof(int));

bool TurnOnCoalescing(int fd) {
  const int on = 1;
  return ::setsockopt(fd, SOL_UDP, UDP_GRO, &on, sizeof on) == 0;
}

}  // namespace

ReceiveBatch::ReceiveBatch(int fd, int messages)
    : fd_(fd),
      messages_(messages),
      coalescing_(TurnOnCoalescing(fd)),
      bufferSize_(coalescing_ ? kCoalescedBuffer : kPlainBuffer),
      buffers_(static_cast<std::size_t>(messages) * bufferSize_),
      iov_(messages),
      senders_(messages),
      headers_(messages),
      control_(static_cast<std::size_t>(messages) * kControlSpace) {}

StatusOr<int> ReceiveBatch::Read() {
  read_ = message_ = 0;
  offset_ = 0;
  for (int i = 0; i < messages_; ++i) {
    iov_[i] = {&buffers_[static_cast<std::size_t>(i) * bufferSize_], bufferSize_};
    headers_[i] = {};
    msghdr& header = headers_[i].msg_hdr;
    header.msg_iov = &iov_[i];
    header.msg_iovlen = 1;
    header.msg_name = &senders_[i];
    header.msg_namelen = sizeof senders_[i];
    header.msg_control = &control_[static_cast<std::size_t>(i) * kControlSpace];
    header.msg_controllen = kControlSpace;
  }
  for (;;) {
    const int n =
        ::recvmmsg(fd_, headers_.data(), static_cast<unsigned>(messages_), MSG_DONTWAIT, nullptr);
    if (n >= 0) {
      read_ = n;
      if (n > 0) segment_ = SegmentSize(0);
      return n;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return PosixError("recvmmsg", errno);
  }
}

std::size_t ReceiveBatch::SegmentSize(int m) {
  msghdr& header = headers_[m].msg_hdr;
  for (cmsghdr* control = CMSG_FIRSTHDR(&header); control != nullptr;
       control = CMSG_NXTHDR(&header, control)) {
    if (control->cmsg_level == SOL_UDP && control->cmsg_type == UDP_GRO) {
      int size = 0;
      std::memcpy(&size, CMSG_DATA(control), sizeof size);
      return size > 0 ? static_cast<std::size_t>(size) : 0;
    }
  }
  return 0;
}

bool ReceiveBatch::Next(Datagram& datagram) {
  if (message_ >= read_) return false;
  const mmsghdr& message = headers_[message_];
  const std::size_t length = message.msg_len;
  const std::size_t size = segment_ == 0 ? length : std::min(segment_, length - offset_);
  datagram.bytes = {&buffers_[static_cast<std::size_t>(message_) * bufferSize_ + offset_], size};
  datagram.from = senders_[message_];
  datagram.fromLength = message.msg_hdr.msg_namelen;
  datagram.truncated = (message.msg_hdr.msg_flags & MSG_TRUNC) != 0;
  offset_ += size;
  if (offset_ >= length) {
    offset_ = 0;
    if (++message_ < read_) segment_ = SegmentSize(message_);
  }
  return true;
}

}  // namespace ondavox::fcast
