#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Socket.h"
#include "platform/UniqueFd.h"

namespace ondavox::test {

// A test's connection to an administration channel: whole request lines out, reply lines in.
// The test's thread only.
class ChannelClient {
 public:
  explicit ChannelClient(const std::string& path)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    connected_ =
        ::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }

  bool connected() const { return connected_; }
  bool SendLine(const std::string& line) { return SendAll(fd_.Get(), line + "\n"); }
  // The next reply line without its line feed; empty when the channel closed.
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      char chunk[4096];
      const ssize_t got = ::recv(fd_.Get(), chunk, sizeof chunk, 0);
      if (got <= 0) return {};
      pending_.append(chunk, static_cast<std::size_t>(got));
    }
  }
  nlohmann::json Request(const nlohmann::json& request) {
    if (!SendLine(request.dump())) return nullptr;
    return nlohmann::json::parse(ReadLine(), nullptr, false);
  }

 private:
  UniqueFd fd_;
  bool connected_ = false;
  std::string pending_;
};

}  // namespace ondavox::test
