#include <gtest/gtest.h>
#include <isa-l/erasure_code.h>

#include <random>
#include <vector>

#include "fcast/code/AdditiveFft.h"

namespace ondavox::fcast {
namespace {

constexpr int kPoints = AdditiveFft::kPoints;

// 128 symbols of |size| random bytes, with the pointers the transform takes.
struct Symbols {
  Symbols(std::size_t size, std::mt19937& rng) : bytes(kPoints, std::vector<std::uint8_t>(size)) {
    for (auto& symbol : bytes) {
      for (auto& byte : symbol) byte = static_cast<std::uint8_t>(rng());
    }
    for (auto& symbol : bytes) pointers.push_back(symbol.data());
  }
  std::vector<std::vector<std::uint8_t>> bytes;
  std::vector<std::uint8_t*> pointers;
};

// The basis polynomial X_i at x, from the definition: the product over the bits j of i of
// s_j(x) / s_j(2^j), s_j being the product of (x - a) over every a below 2^j.
std::uint8_t Basis(int i, int x) {
  const auto subspace = [](int j, int at) {
    std::uint8_t product = 1;
    for (int a = 0; a < (1 << j); ++a) product = gf_mul(product, static_cast<std::uint8_t>(at ^ a));
    return product;
  };
  std::uint8_t value = 1;
  for (int j = 0; j < 7; ++j) {
    if ((i >> j & 1) != 0) {
      value = gf_mul(value, gf_mul(subspace(j, x), gf_inv(subspace(j, 1 << j))));
    }
  }
  return value;
}

TEST(AdditiveFft, EvaluatesThePolynomialOfTheCoefficientsAtEveryPoint) {
  // One-byte symbols are coefficients c_i; the value at index u of a half must be the sum of
  // c_i X_i at that point, computed here the slow way. Symbols of 64 bytes and more go through
  // the vectorised kernel: each byte is its own polynomial.
  std::mt19937 rng(1);
  for (std::size_t size : {1u, 100u}) {
    for (int half = 0; half < 2; ++half) {
      Symbols symbols(size, rng);
      const auto coefficients = symbols.bytes;
      AdditiveFft::Evaluate(symbols.pointers.data(), size, half, AdditiveFft::Outputs().set());
      for (int u = 0; u < kPoints; ++u) {
        for (std::size_t byte = 0; byte < size; byte += 37) {
          std::uint8_t expected = 0;
          for (int i = 0; i < kPoints; ++i) {
            expected ^= gf_mul(coefficients[i][byte], Basis(i, half << 7 | u));
          }
          ASSERT_EQ(symbols.bytes[u][byte], expected) << "half " << half << " u " << u;
        }
      }
    }
  }
}

TEST(AdditiveFft, InterpolationUndoesEvaluationAndPruningKeepsTheWantedValues) {
  std::mt19937 rng(2);
  for (int half = 0; half < 2; ++half) {
    Symbols symbols(80, rng);
    const auto values = symbols.bytes;
    AdditiveFft::Interpolate(symbols.pointers.data(), 80, half);
    const auto coefficients = symbols.bytes;
    AdditiveFft::Evaluate(symbols.pointers.data(), 80, half, AdditiveFft::Outputs().set());
    EXPECT_EQ(symbols.bytes, values);

    // A few scattered values, and one contiguous run, each from the coefficients alone.
    for (const std::vector<int>& wanted : {std::vector<int>{0, 5, 77, 127}, {40, 41, 42, 43, 44}}) {
      symbols.bytes = coefficients;
      AdditiveFft::Outputs set;
      for (int u : wanted) set.set(static_cast<std::size_t>(u));
      AdditiveFft::Evaluate(symbols.pointers.data(), 80, half, set);
      for (int u : wanted) EXPECT_EQ(symbols.bytes[u], values[u]) << "u " << u;
    }
  }
}

}  // namespace
}  // namespace ondavox::fcast
