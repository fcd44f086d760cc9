#include "platform/Socket.h"

#include <sys/socket.h>

#include <cerrno>

namespace ondavox {

Socket Socket::Tcp() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

Socket Socket::Udp() { return Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

void Socket::Shutdown() const {
  if (fd_.Valid()) ::shutdown(fd_.Get(), SHUT_RDWR);
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace ondavox
