#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ondavox::fcast {

// A set of the points [0, n) of a column, asked in constant time whether a range of them holds
// any: the points a transform's input has (the others being zero), or the values it must
// produce. A value type; any thread.
class WidePoints {
 public:
  // The points [0, count).
  static WidePoints Below(std::uint32_t n, std::uint32_t count);
  // |points|: distinct, each below n.
  WidePoints(std::uint32_t n, std::span<const std::uint32_t> points);

  // Whether any of the points [from, to) is in the set.
  bool Meets(std::uint32_t from, std::uint32_t to) const { return before_[to] != before_[from]; }

 private:
  WidePoints() = default;

  std::vector<std::uint32_t> before_;  // before_[i]: how many of the points are below i
};

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

  // Builds the transforms' tables now rather than at the first transform.
  static void Prepare();
  // Values at points [offset, offset + n) to the coefficients of X_0 .. X_(n-1), in place. The
  // values outside |inputs| must be zero: butterflies of groups holding none of |inputs| are
  // skipped, their results being zero too.
  static void Interpolate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset,
                          const WidePoints& inputs);
  // Coefficients to values at points [offset, offset + n), in place; only the values at
  // |wanted| (relative to offset) are sure to be right: butterflies that lead to none of them
  // are skipped. With offset 0 and every wanted point below a power of two m, only the
  // coefficients below m are read.
  static void Evaluate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset,
                       const WidePoints& wanted);
  // Coefficients of a polynomial g to those of g + g' (g' its formal derivative), in place:
  // at the roots of g, the values of g'. Cheaper than g' alone by n clearings. Only the
  // coefficients below |limit| (a power of two, at most n) are sure to be right.
  static void Derive(std::uint8_t* column, std::uint32_t n, std::uint32_t limit);

  // |bytes| (even, at most 64) of little-endian elements into one chunk, zero-padded.
  static void ToChunk(const std::uint8_t* elements, std::size_t bytes, std::uint8_t* chunk);
  // The first |bytes| of a chunk's elements back to little-endian.
  static void FromChunk(const std::uint8_t* chunk, std::uint8_t* elements, std::size_t bytes);
};

}  // namespace ondavox::fcast
