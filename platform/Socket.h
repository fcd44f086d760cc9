#pragma once

#include <string_view>

#include "platform/UniqueFd.h"

namespace ondavox {

// Owns one socket descriptor and closes it on destruction. Movable, not copyable.
//
// The descriptor may be used by one blocking thread while another thread calls Shutdown() to
// wake it; Close() and destruction happen only after that thread is done with it.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept = default;
  Socket& operator=(Socket&& other) noexcept = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A new IPv4 stream or datagram socket; an invalid Socket when the system refuses.
  static Socket Tcp();
  static Socket Udp();

  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }

  // Ends both directions so that a thread blocked in recv or accept returns. Any thread.
  void Shutdown() const;
  void Close() { fd_.Reset(); }
  int Release() { return fd_.Release(); }

 private:
  UniqueFd fd_;
};

// Writes all of |bytes| to a connected socket, retrying short writes; a closed peer is an
// error result, never a signal. Returns false on any error.
bool SendAll(int fd, std::string_view bytes);

}  // namespace ondavox
