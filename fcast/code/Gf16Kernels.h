#pragma once

// The vector loops behind Gf16MultiplyAdd, each in a file built for its instruction set.
// Internal to fcast/code.

#include <cstddef>
#include <cstdint>

namespace ondavox::fcast::gf16 {

// What a loop does with the chunks of x and y (c the constant).
enum Op : int {
  kMultiplyAdd,  // y ^= c * x
  kScale,        // x = c * x
  kForward,      // x ^= c * y; y ^= x
  kInverse,      // y ^= x; x ^= c * y
};

// Builds its tables from c on each call: a few tens of cycles, as cheap as one chunk's work.
void RunAvx2(Op op, std::uint16_t c, std::uint8_t* x, std::uint8_t* y, std::size_t bytes);
// |matrices|[out][in]: the affine transform from byte in of an element to byte out of the
// product.
void RunGfni(Op op, const std::uint64_t (*matrices)[2], std::uint8_t* x, std::uint8_t* y,
             std::size_t bytes);

}  // namespace ondavox::fcast::gf16
