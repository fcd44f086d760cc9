#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace ondavox {

// One connection to the server's administration channel: a Unix stream socket that carries
// JSON-lines requests and replies (server/control/PROTOCOL.md). Owns the socket and the bytes
// read past the last line handed out. Knows nothing of JSON: ondavoxctl's main sends the
// request it built and reads the reply lines as text, so that --json can print them unchanged.
// Used by one thread at a time.
class ControlClient {
 public:
  // The longest reply line taken; longer ones are an error.
  static constexpr std::size_t kMaxLine = 16 * 1024 * 1024;

  // Connects to the socket at |path|. The error names the path and the system's reason.
  static StatusOr<ControlClient> Connect(const std::string& path);

  // Sends |line| followed by a newline.
  Status Send(std::string_view line);
  // The next line without its newline; nothing when the server closed the connection at a line
  // boundary. An error when reading fails, the connection ends inside a line, or a line is
  // longer than kMaxLine.
  StatusOr<std::optional<std::string>> ReadLine();

 private:
  ControlClient(UniqueFd socket, std::string path)
      : socket_(std::move(socket)), path_(std::move(path)) {}

  UniqueFd socket_;
  std::string path_;
  std::string buffer_;
};

}  // namespace ondavox
