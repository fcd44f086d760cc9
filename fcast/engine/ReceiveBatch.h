#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/Status.h"

namespace ondavox::fcast {

// Reads a UDP socket a batch at a time (recvmmsg) and hands out the datagrams one by one with
// their source address. It turns on the socket's coalescing of consecutive datagrams (UDP_GRO)
// where the system allows, reads into buffers large enough for what is coalesced and cuts each
// back into datagrams at the segment size the system reports. Owned by the receiver's thread.
class ReceiveBatch {
 public:
  struct Datagram {
    std::span<const std::uint8_t> bytes;
    sockaddr_in from;
    socklen_t fromLength;
    bool truncated;  // longer than the buffer: the bytes are not all of it
  };

  // |messages| is how many messages one read takes at most.
  ReceiveBatch(int fd, int messages);

  // Reads what waits on the socket without waiting: the number of messages read (0 when
  // nothing waits, |messages| when more may wait), or the failure.
  StatusOr<int> Read();
  // The next datagram of the last read, into |datagram|; false when they have all been seen.
  bool Next(Datagram& datagram);
  // True when the socket coalesces datagrams.
  bool Coalescing() const { return coalescing_; }

 private:
  // The segment size the system gave for message |m|; 0 when it was not coalesced.
  std::size_t SegmentSize(int m);

  const int fd_;
  const int messages_;
  const bool coalescing_;
  const std::size_t bufferSize_;
  std::vector<std::uint8_t> buffers_;
  std::vector<iovec> iov_;
  std::vector<sockaddr_in> senders_;
  std::vector<mmsghdr> headers_;
  std::vector<std::uint8_t> control_;
  int read_ = 0;
  // Where Next() stands: message, offset in it and its segment size.
  int message_ = 0;
  std::size_t offset_ = 0;
  std::size_t segment_ = 0;
};

}  // namespace ondavox::fcast
