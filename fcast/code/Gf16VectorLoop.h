#pragma once

// The loop shared by the AVX2 and GFNI kernels; included only by the files built for them.

#include <immintrin.h>

#include "fcast/code/Gf16Kernels.h"

namespace ondavox::fcast::gf16 {
namespace {

// |product|(lo, hi, &productLo, &productHi) multiplies the 32 elements of one chunk.
template <Op op, class Product>
inline void Loop(const Product& product, std::uint8_t* x, std::uint8_t* y, std::size_t bytes) {
  const auto load = [](const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  };
  const auto store = [](std::uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  };
  for (std::size_t i = 0; i < bytes; i += 64) {
    __m256i xl = load(x + i);
    __m256i xh = load(x + i + 32);
    __m256i pl;
    __m256i ph;
    if constexpr (op == kScale) {
      product(xl, xh, pl, ph);
      store(x + i, pl);
      store(x + i + 32, ph);
      continue;
    }
    __m256i yl = load(y + i);
    __m256i yh = load(y + i + 32);
    if constexpr (op == kMultiplyAdd) {
      product(xl, xh, pl, ph);
      store(y + i, _mm256_xor_si256(yl, pl));
      store(y + i + 32, _mm256_xor_si256(yh, ph));
      continue;
    }
    if constexpr (op == kForward) {
      product(yl, yh, pl, ph);
      xl = _mm256_xor_si256(xl, pl);
      xh = _mm256_xor_si256(xh, ph);
      yl = _mm256_xor_si256(yl, xl);
      yh = _mm256_xor_si256(yh, xh);
    } else {
      yl = _mm256_xor_si256(yl, xl);
      yh = _mm256_xor_si256(yh, xh);
      product(yl, yh, pl, ph);
      xl = _mm256_xor_si256(xl, pl);
      xh = _mm256_xor_si256(xh, ph);
    }
    store(x + i, xl);
    store(x + i + 32, xh);
    store(y + i, yl);
    store(y + i + 32, yh);
  }
}

template <class Product>
inline void Dispatch(Op op, const Product& product, std::uint8_t* x, std::uint8_t* y,
                     std::size_t bytes) {
  switch (op) {
    case kMultiplyAdd:
      return Loop<kMultiplyAdd>(product, x, y, bytes);
    case kScale:
      return Loop<kScale>(product, x, y, bytes);
    case kForward:
      return Loop<kForward>(product, x, y, bytes);
    case kInverse:
      return Loop<kInverse>(product, x, y, bytes);
  }
}

}  // namespace
}  // namespace ondavox::fcast::gf16
