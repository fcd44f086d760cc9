#pragma once

#include <sys/socket.h>

#include <cerrno>

namespace ondavox::load {

template <class OnReply>
bool LoadConnection::Receive(OnReply&& onReply) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(socket_.Fd(), buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    input_.append(buffer, static_cast<std::size_t>(n));
    std::size_t feed;
    while ((feed = input_.find('\n')) != std::string::npos) {
      const std::string reply = input_.substr(0, feed);
      input_.erase(0, feed + 1);
      const auto latency = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - sentAt_);
      const bool matched = Check(reply);
      if (pending_ == Pending::kRegister && matched) registered_ = true;
      pending_ = Pending::kNone;
      onReply(static_cast<uint64_t>(latency.count()), matched);
    }
  }
}

}  // namespace ondavox::load
