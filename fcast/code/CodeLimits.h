#pragma once

namespace ondavox::fcast {

// The limits of the erasure codes, shared by the codes and by the wire format that carries
// their symbols.

// Symbol ids are bytes of GF(2^8) row numbers: at most 255 per block.
inline constexpr int kMaxSymbolsPerBlock = 255;
// Blocks per group, and combinations of a group's symbols of one id. A receiver solves a
// group's missing symbols together, a system as wide as their number: groups are kept small.
inline constexpr int kMaxGroupBlocks = 8;
inline constexpr int kMaxCombinations = 256 - kMaxGroupBlocks;

}  // namespace ondavox::fcast
