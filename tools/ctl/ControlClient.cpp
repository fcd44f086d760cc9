#include "tools/ctl/ControlClient.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/Socket.h"

namespace ondavox {

StatusOr<ControlClient> ControlClient::Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    return Status::InvalidArgument("socket path too long: " + path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) return PosixError("cannot create a socket for " + path, errno);
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return PosixError("cannot connect to " + path, errno);
  }
  return ControlClient(std::move(socket), path);
}

Status ControlClient::Send(std::string_view line) {
  std::string bytes(line);
  bytes += '\n';
  if (!SendAll(socket_.Get(), bytes)) return PosixError("cannot send to " + path_, errno);
  return Status();
}

StatusOr<std::optional<std::string>> ControlClient::ReadLine() {
  std::size_t scanned = 0;
  while (true) {
    const std::size_t end = buffer_.find('\n', scanned);
    if (end != std::string::npos) {
      std::optional<std::string> line(buffer_.substr(0, end));
      buffer_.erase(0, end + 1);
      return line;
    }
    if (buffer_.size() > kMaxLine) {
      return Status::IoError(path_ + ": reply line longer than " + std::to_string(kMaxLine) +
                             " bytes");
    }
    scanned = buffer_.size();
    std::array<char, 65536> chunk;
    const ssize_t n = ::recv(socket_.Get(), chunk.data(), chunk.size(), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return PosixError("cannot read from " + path_, errno);
    }
    if (n == 0) {
      if (buffer_.empty()) return std::optional<std::string>();
      return Status::IoError(path_ + ": the connection ended inside a reply line");
    }
    buffer_.append(chunk.data(), static_cast<std::size_t>(n));
  }
}

}  // namespace ondavox
