#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Socket.h"

namespace ondavox::load {

// One client connection of the load generator: a non-blocking socket that carries one
// request at a time and checks each reply against the request it answers. Registers its user,
// then alternates WHOIS of its own login and FILEINFO of the shared document.
// Owned and driven by one worker thread.
class LoadConnection {
 public:
  using Clock = std::chrono::steady_clock;

  LoadConnection(int index, std::string login, std::string documentName, std::string documentOwner);

  // Opens the connection (non-blocking connect); false when the socket cannot be made.
  bool Open(uint32_t address, uint16_t port);
  int fd() const { return socket_.Fd(); }

  // Sends the next request; false on a write error.
  bool SendNext();
  // Reads what arrived. Each complete reply is checked; |onReply| gets its latency in
  // nanoseconds and whether it matched. Returns false when the connection broke or closed.
  template <class OnReply>
  bool Receive(OnReply&& onReply);

  bool registered() const { return registered_; }

 private:
  bool Check(const std::string& reply) const;

  const std::string login_;
  const std::string documentName_;
  const std::string documentOwner_;
  Socket socket_;
  std::string input_;
  enum class Pending { kNone, kRegister, kWhois, kFileinfo } pending_ = Pending::kNone;
  Clock::time_point sentAt_;
  uint64_t sequence_ = 0;
  bool registered_ = false;
};

}  // namespace ondavox::load

#include "tools/loadgen/LoadConnection.inl"
