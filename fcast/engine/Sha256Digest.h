#pragma once

#include <array>
#include <cstdint>

namespace ondavox::fcast {

// The SHA-256 digest of a whole file, as the descriptor carries it.
using Sha256Digest = std::array<std::uint8_t, 32>;

}  // namespace ondavox::fcast
