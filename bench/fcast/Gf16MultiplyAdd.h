#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ondavox::fcast::simulation {

// dest ^= c * src over GF(2^16) (polynomial x^16 + x^5 + x^3 + x^2 + 1) for one constant c, in
// two forms, to measure what a large-block code's butterflies would cost: scalar (two
// 256-entry tables of products, by an element's low and high byte), AVX2 (eight 16-entry
// nibble tables applied with byte shuffles) and GFNI (the product as four 8x8 bit matrices,
// from each byte of the element to each byte of the product, applied with affine
// transforms); the vector forms work on 64-byte chunks that hold 32 elements' low bytes then
// their high bytes. ISA-L's kernels work in GF(2^8) only. A value type.
class Gf16MultiplyAdd {
 public:
  explicit Gf16MultiplyAdd(std::uint16_t c);

  static std::uint16_t Multiply(std::uint16_t a, std::uint16_t b);
  // |count| elements.
  void Scalar(const std::uint16_t* src, std::uint16_t* dest, std::size_t count) const;
  // |bytes| a multiple of 64, in the chunked layout; the processor must have AVX2.
  void Avx2(const std::uint8_t* src, std::uint8_t* dest, std::size_t bytes) const;
  // The same with GFNI (and AVX2).
  void Gfni(const std::uint8_t* src, std::uint8_t* dest, std::size_t bytes) const;

 private:
  std::array<std::uint16_t, 256> low_{};
  std::array<std::uint16_t, 256> high_{};
  std::uint8_t nibbles_[4][2][16] = {};  // [nibble][low or high byte of the product][value]
  std::uint64_t matrices_[2][2] = {};    // [byte of the product][byte of the element]
};

}  // namespace ondavox::fcast::simulation
