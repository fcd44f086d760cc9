#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fcast/engine/Pacer.h"

namespace ondavox::fcast {

// Datagrams waiting to go out together in one sendmmsg call on a connected socket, at the
// pacer's rate. A datagram the system refuses (other than for a full buffer, which is waited
// out) is lost like any other on the network. Owned by the sender's thread; |stop| is set by
// another thread to end a wait.
class DatagramBatch {
 public:
  DatagramBatch(int fd, Pacer& pacer, int size, const std::atomic<bool>& stop);

  // Where to write the next datagram (room for kMaxDatagram bytes).
  std::uint8_t* Next();
  // Queues the datagram written at Next(), sending the batch when it is full; false when the
  // transfer was stopped.
  bool Commit(std::size_t length);
  // Sends what is queued; false when the transfer was stopped.
  bool Flush();

 private:
  const int fd_;
  Pacer& pacer_;
  const int size_;
  const std::atomic<bool>& stop_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::size_t> lengths_;
  int count_ = 0;
};

}  // namespace ondavox::fcast
