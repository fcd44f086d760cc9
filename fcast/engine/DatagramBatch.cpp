#include "fcast/engine/DatagramBatch.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fcast/engine/Packet.h"

namespace ondavox::fcast {
namespace {

// What the system cuts one message into at most.
constexpr int kMaxSegments = 64;
constexpr std::size_t kMaxSegmentedBytes = 65507;
constexpr std::size_t kControlSpace = CMSG_SPACE(sizeof(std::uint16_t));

}  // namespace

DatagramBatch::DatagramBatch(int fd, Pacer& pacer, int size, const std::atomic<bool>& stop)
    : fd_(fd),
      pacer_(pacer),
      size_(size),
      stop_(stop),
      buffer_(static_cast<std::size_t>(size) * kMaxDatagram),
      lengths_(size),
      iov_(size),
      messages_(size),
      control_(static_cast<std::size_t>(size) * kControlSpace) {
  // Only a UDP socket cuts a segmented message into datagrams; any other would deliver it
  // whole.
  int domain = 0;
  socklen_t length = sizeof(domain);
  if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_INET) {
    segmenting_ = false;
  }
  runs_.reserve(size);
}

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
  Plan(0);
  SendPlanned();
  pacer_.Sent(total);
  count_ = 0;
  return true;
}

void DatagramBatch::Plan(int first) {
  runs_.clear();
  for (int i = first; i < count_;) {
    int n = 1;
    std::size_t bytes = lengths_[i];
    while (segmenting_ && i + n < count_ && n < kMaxSegments && lengths_[i + n] == lengths_[i] &&
           bytes + lengths_[i] <= kMaxSegmentedBytes) {
      bytes += lengths_[i];
      ++n;
    }
    runs_.push_back({i, n});
    i += n;
  }
  for (std::size_t m = 0; m < runs_.size(); ++m) {
    const Run run = runs_[m];
    for (int i = run.first; i < run.first + run.count; ++i) {
      iov_[i].iov_base = &buffer_[static_cast<std::size_t>(i) * kMaxDatagram];
      iov_[i].iov_len = lengths_[i];
    }
    msghdr& header = messages_[m].msg_hdr;
    messages_[m] = {};
    header.msg_iov = &iov_[run.first];
    header.msg_iovlen = static_cast<std::size_t>(run.count);
    if (run.count > 1) {
      header.msg_control = &control_[m * kControlSpace];
      header.msg_controllen = kControlSpace;
      cmsghdr* control = CMSG_FIRSTHDR(&header);
      control->cmsg_level = SOL_UDP;
      control->cmsg_type = UDP_SEGMENT;
      control->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
      const auto segment = static_cast<std::uint16_t>(lengths_[run.first]);
      std::memcpy(CMSG_DATA(control), &segment, sizeof segment);
    }
  }
}

void DatagramBatch::SendPlanned() {
  std::size_t done = 0;
  while (done < runs_.size()) {
    const int n =
        ::sendmmsg(fd_, &messages_[done], static_cast<unsigned>(runs_.size() - done), 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (errno == EINTR) {
      continue;
    } else if (errno == ENOBUFS || errno == EAGAIN) {
      ::usleep(200);
    } else if (runs_[done].count > 1) {
      segmenting_ = false;
      Plan(runs_[done].first);
      done = 0;
    } else {
      ++done;
    }
  }
}

}  // namespace ondavox::fcast
