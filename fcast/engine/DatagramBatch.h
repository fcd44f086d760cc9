#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fcast/engine/Pacer.h"

namespace ondavox::fcast {

// Datagrams waiting to go out together in one sendmmsg call on a connected socket, at the
// pacer's rate. A run of consecutive datagrams of one length goes out as a single message
// that the system cuts into datagrams (UDP segmentation offload); once the system refuses
// such a message, every datagram goes out in its own message from then on. A datagram the
// system refuses (other than for a full buffer, which is waited out) is lost like any other on
// the network. Owned by the sender's thread; |stop| is set by another thread to end a wait.
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
  // False once the system has refused a segmented message.
  bool Segmenting() const { return segmenting_; }

 private:
  // One message of the batch: datagrams [first, first + count).
  struct Run {
    int first;
    int count;
  };
  // Splits the datagrams from |first| on into messages: runs when segmenting, else singles.
  void Plan(int first);
  // Sends the planned messages; a refused segmented one is planned again datagram by datagram.
  void SendPlanned();

  const int fd_;
  Pacer& pacer_;
  const int size_;
  const std::atomic<bool>& stop_;
  bool segmenting_ = true;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::size_t> lengths_;
  int count_ = 0;
  std::vector<Run> runs_;
  std::vector<iovec> iov_;
  std::vector<mmsghdr> messages_;
  std::vector<std::uint8_t> control_;
};

}  // namespace ondavox::fcast
