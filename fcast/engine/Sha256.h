#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "fcast/engine/Sha256Digest.h"

namespace ondavox::fcast {

// SHA-256 over bytes given in pieces (OpenSSL). Owned by one thread.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::span<const std::uint8_t> bytes);
  Sha256Digest Final();

 private:
  struct Context;
  Context* context_;
};

// SHA-256 of the first |size| bytes of the open file |fd|; nothing when a read fails or
// |stop| (when given) becomes true while it runs.
std::optional<Sha256Digest> HashFile(int fd, std::uint64_t size,
                                     const std::atomic<bool>* stop = nullptr);

std::string ToHex(const Sha256Digest& digest);

}  // namespace ondavox::fcast
