#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// The additive fast Fourier transform over GF(2^8), in the basis of subspace polynomials
// (X_i is the product of the normalised s_j over the bits j of i, s_j vanishing exactly on
// the elements below 2^j). It moves 128 symbols between the coefficients of a polynomial of
// degree below 128 and its values at the 128 points of one half of the field: points 0..127
// (half 0) or 128..255 (half 1), the symbol at index u being the value at the point of the
// half whose low 7 bits are u. Each of its 7 layers is 64 butterflies of whole symbols (one
// multiply-add, one addition), so interpolating on one half and evaluating on the other costs
// 2 x 7 x 64 multiply-adds, where a matrix product gives the same 128 values for 128 x 128.
//
// Stateless; the constants are built once per process. Any thread.
class AdditiveFft {
 public:
  static constexpr int kPoints = 128;
  using Outputs = std::bitset<kPoints>;

  // Values at the points of |half| to coefficients, in place: |symbols| holds kPoints
  // pointers to |size| bytes each.
  static void Interpolate(std::uint8_t* const* symbols, std::size_t size, int half);
  // Coefficients to values at the points of |half|, in place. Only the values in |wanted| are
  // sure to be right: the butterflies that lead to none of them are skipped.
  static void Evaluate(std::uint8_t* const* symbols, std::size_t size, int half,
                       const Outputs& wanted);
};

}  // namespace ondavox::fcast
