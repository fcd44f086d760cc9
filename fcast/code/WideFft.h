#pragma once

#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// The additive fast Fourier transform over GF(2^16) in the basis of subspace polynomials (X_i
// the product over the bits j of i of s_j / s_j(2^j), s_j vanishing exactly on the elements
// below 2^j), on columns: n chunks of 64 bytes (Gf16MultiplyAdd's layout), chunk u holding 32
// elements of point offset + u, for n a power of two up to 65536 and offset a multiple of n.
// Each of its log2 n layers is n/2 butterflies; a layer's factors depend only on the group's
// global index, so one table of 65535 multipliers, built once per process, serves every n and
// offset. Stateless otherwise; any thread.
class WideFft {
 public:
  static constexpr std::size_t kChunkBytes = 64;

  // Values at points [offset, offset + n) to the coefficients of X_0 .. X_(n-1), in place.
  static void Interpolate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset);
  // Coefficients to values at points [offset, offset + n), in place; only values [0, wanted)
  // of the column are sure to be right: butterflies that lead to none of them are skipped.
  static void Evaluate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset,
                       std::uint32_t wanted);
  // Coefficients of a polynomial g to those of g + g' (g' its formal derivative), in place:
  // at the roots of g, the values of g'. Cheaper than g' alone by n clearings.
  static void Derive(std::uint8_t* column, std::uint32_t n);

  // |bytes| (even, at most 64) of little-endian elements into one chunk, zero-padded.
  static void ToChunk(const std::uint8_t* elements, std::size_t bytes, std::uint8_t* chunk);
  // The first |bytes| of a chunk's elements back to little-endian.
  static void FromChunk(const std::uint8_t* chunk, std::uint8_t* elements, std::size_t bytes);
};

}  // namespace ondavox::fcast
