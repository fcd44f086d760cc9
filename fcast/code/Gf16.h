#pragma once

#include <cstdint>

namespace ondavox::fcast {

// Arithmetic in GF(2^16) with the polynomial x^16 + x^5 + x^3 + x^2 + 1 (0x1002D), by tables of
// logarithms and powers of x (a generator), built once per process. Stateless; any thread.
class Gf16 {
 public:
  static constexpr std::uint32_t kOrder = 65535;  // of the multiplicative group
  static constexpr std::uint32_t kPolynomial = 0x1002d;

  static std::uint16_t Multiply(std::uint16_t a, std::uint16_t b);
  // REQUIRES: b != 0.
  static std::uint16_t Divide(std::uint16_t a, std::uint16_t b);
  // The logarithm to base x, below kOrder. REQUIRES: a != 0.
  static std::uint32_t Log(std::uint16_t a);
  // x^e, for any e.
  static std::uint16_t Exp(std::uint32_t e);
};

}  // namespace ondavox::fcast
