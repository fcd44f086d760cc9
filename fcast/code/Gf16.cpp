#include "fcast/code/Gf16.h"

#include <array>

namespace ondavox::fcast {
namespace {

struct Tables {
  Tables() {
    std::uint32_t x = 1;
    for (std::uint32_t e = 0; e < Gf16::kOrder; ++e) {
      power[e] = static_cast<std::uint16_t>(x);
      power[e + Gf16::kOrder] = static_cast<std::uint16_t>(x);
      log[x] = static_cast<std::uint16_t>(e);
      x <<= 1;
      if (x & 0x10000) x ^= Gf16::kPolynomial;
    }
  }
  std::array<std::uint16_t, 2 * Gf16::kOrder> power{};  // doubled: a sum of two logs indexes it
  std::array<std::uint16_t, 65536> log{};
};

const Tables& TheTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

std::uint16_t Gf16::Multiply(std::uint16_t a, std::uint16_t b) {
  if (a == 0 || b == 0) return 0;
  const Tables& t = TheTables();
  return t.power[t.log[a] + t.log[b]];
}

std::uint16_t Gf16::Divide(std::uint16_t a, std::uint16_t b) {
  if (a == 0) return 0;
  const Tables& t = TheTables();
  return t.power[t.log[a] + kOrder - t.log[b]];
}

std::uint32_t Gf16::Log(std::uint16_t a) { return TheTables().log[a]; }

std::uint16_t Gf16::Exp(std::uint32_t e) { return TheTables().power[e % kOrder]; }

}  // namespace ondavox::fcast
