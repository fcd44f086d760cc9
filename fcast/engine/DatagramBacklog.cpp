#include "fcast/engine/DatagramBacklog.h"

#include <utility>

namespace ondavox::fcast {
namespace {

// Messages per read: with coalescing, each holds up to 64 KiB of datagrams.
constexpr int kMessages = 8;

}  // namespace

DatagramBacklog::DatagramBacklog(int fd, std::size_t maxBytes)
    : maxBytes_(maxBytes), batch_(fd, kMessages) {}

void DatagramBacklog::Fill() {
  while (heldBytes_ < maxBytes_) {
    const StatusOr<int> n = batch_.Read();
    if (!n.ok() || *n == 0) return;
    ReceiveBatch::Datagram datagram;
    while (batch_.Next(datagram)) {
      held_.push_back({{datagram.bytes.begin(), datagram.bytes.end()},
                       datagram.from,
                       datagram.fromLength,
                       datagram.truncated});
      heldBytes_ += datagram.bytes.size();
    }
    if (*n < kMessages) return;
  }
}

bool DatagramBacklog::Pop(Held& datagram) {
  if (held_.empty()) return false;
  datagram = std::move(held_.front());
  held_.pop_front();
  heldBytes_ -= datagram.bytes.size();
  return true;
}

}  // namespace ondavox::fcast
