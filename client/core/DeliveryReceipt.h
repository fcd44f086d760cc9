#pragma once

#include <optional>
#include <string>

#include "common/MavoraProtocol.h"

namespace ondavox::client {

// The delivery receipt of a file the Fcast receiver stored: the RECEIVED command with the
// file's name, its size and the SHA-256 of its bytes in lowercase hexadecimal, as they are on
// disk. Made on the receiver's event thread (reading a large file takes a while: never under a
// lock another thread waits on), sent by the TCP session thread; stateless.
class DeliveryReceipt {
 public:
  static constexpr char kCommand[] = "RECEIVED";

  // The receipt for the file at |path|, received as |name|; nothing when it cannot be read.
  static std::optional<MavoraProtocol::Fields> For(const std::string& path,
                                                   const std::string& name);
};

}  // namespace ondavox::client
