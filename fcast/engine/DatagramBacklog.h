#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "fcast/engine/ReceiveBatch.h"

namespace ondavox::fcast {

// Datagrams read off the receiver's socket while its thread is busy rebuilding a block, held in
// arrival order until it handles them: a socket buffer of the process's own, for systems that
// keep the socket's small (an unprivileged receiver gets rmem_max, 208 KiB by default, 20 ms at
// 100 Mbit/s). Holds about |maxBytes| at most; beyond that the socket's buffer takes over.
// Owned by the receiver's thread.
class DatagramBacklog {
 public:
  struct Held {
    std::vector<std::uint8_t> bytes;
    sockaddr_in from;
    socklen_t fromLength;
    bool truncated;
  };

  DatagramBacklog(int fd, std::size_t maxBytes);

  // Moves what waits on the socket into the backlog, without waiting, while the budget lasts.
  // A failing read is left for the receiver's own next read to report.
  void Fill();
  // Takes out the oldest datagram held into |datagram|; false when none is.
  bool Pop(Held& datagram);
  bool Empty() const { return held_.empty(); }

 private:
  const std::size_t maxBytes_;
  ReceiveBatch batch_;
  std::deque<Held> held_;
  std::size_t heldBytes_ = 0;
};

}  // namespace ondavox::fcast
