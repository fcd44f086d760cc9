#include "fcast/code/AdditiveFft.h"

#include <immintrin.h>
#include <isa-l/erasure_code.h>

#include <array>
#include <cstring>

namespace ondavox::fcast {
namespace {

constexpr int kLayers = 7;  // log2 of kPoints

// A multiplication by a constant c, as two tables of 16 products: c * n for the low nibble n
// of a byte, and c * (n << 4) for its high one; the product is their sum.
struct Multiplier {
  std::array<std::uint8_t, 16> low{};
  std::array<std::uint8_t, 16> high{};
};

// The factor of every butterfly: in layer j, the group of 2^(j+1) symbols that starts at
// index g of |half| has factor s_j(p) / s_j(2^j), p being the group's first point (the
// normalised s_j is additive and vanishes below 2^j, so it is the same at all the group's
// points).
class Factors {
 public:
  Factors() {
    // s_0(x) = x and s_(j+1)(x) = s_j(x) * s_j(x + 2^j) = s_j(x) * (s_j(x) + s_j(2^j)).
    std::array<std::array<std::uint8_t, 256>, kLayers> s{};
    for (int x = 0; x < 256; ++x) s[0][x] = static_cast<std::uint8_t>(x);
    for (int j = 0; j + 1 < kLayers; ++j) {
      for (int x = 0; x < 256; ++x) {
        s[j + 1][x] = gf_mul(s[j][x], static_cast<std::uint8_t>(s[j][x] ^ s[j][1 << j]));
      }
    }
    for (int half = 0; half < 2; ++half) {
      for (int j = 0; j < kLayers; ++j) {
        const std::uint8_t norm = gf_inv(s[j][1 << j]);
        for (int group = 0; group < (AdditiveFft::kPoints >> (j + 1)); ++group) {
          const int point = (half << kLayers) | (group << (j + 1));
          const std::uint8_t factor = gf_mul(s[j][point], norm);
          Multiplier& m = multipliers_[half][j][group];
          for (int n = 0; n < 16; ++n) {
            m.low[n] = gf_mul(factor, static_cast<std::uint8_t>(n));
            m.high[n] = gf_mul(factor, static_cast<std::uint8_t>(n << 4));
          }
        }
      }
    }
  }

  const Multiplier& At(int half, int layer, int group) const {
    return multipliers_[half][layer][group];
  }

 private:
  Multiplier multipliers_[2][kLayers][AdditiveFft::kPoints / 2];
};

const Factors& TheFactors() {
  static const Factors factors;
  return factors;
}

std::uint8_t Multiply(const Multiplier& m, std::uint8_t x) {
  return m.low[x & 15] ^ m.high[x >> 4];
}

// One butterfly over whole symbols a and b, in one pass: forward, a += m * b then b += a;
// inverse, b += a then a += m * b. From byte |from| on.
void ButterflyBytes(std::uint8_t* a, std::uint8_t* b, std::size_t from, std::size_t size,
                    const Multiplier& m, bool forward) {
  for (std::size_t i = from; i < size; ++i) {
    if (forward) {
      a[i] ^= Multiply(m, b[i]);
      b[i] ^= a[i];
    } else {
      b[i] ^= a[i];
      a[i] ^= Multiply(m, b[i]);
    }
  }
}

__attribute__((target("avx2"))) inline __m256i MultiplyAvx2(__m256i x, __m256i low, __m256i high,
                                                            __m256i nibble) {
  return _mm256_xor_si256(
      _mm256_shuffle_epi8(low, _mm256_and_si256(x, nibble)),
      _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi64(x, 4), nibble)));
}

__attribute__((target("avx2"))) void ButterflyAvx2(std::uint8_t* a, std::uint8_t* b,
                                                   std::size_t size, const Multiplier& m,
                                                   bool forward) {
  const __m256i low =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.low.data())));
  const __m256i high =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.high.data())));
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    if (forward) {
      x = _mm256_xor_si256(x, MultiplyAvx2(y, low, high, nibble));
      y = _mm256_xor_si256(y, x);
    } else {
      y = _mm256_xor_si256(y, x);
      x = _mm256_xor_si256(x, MultiplyAvx2(y, low, high, nibble));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(a + i), x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + i), y);
  }
  ButterflyBytes(a, b, i, size, m, forward);
}

void Butterfly(std::uint8_t* a, std::uint8_t* b, std::size_t size, const Multiplier& m,
               bool forward) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    ButterflyAvx2(a, b, size, m, forward);
  } else {
    ButterflyBytes(a, b, 0, size, m, forward);
  }
}

bool AnyWanted(const AdditiveFft::Outputs& wanted, int from, int count) {
  for (int i = from; i < from + count; ++i) {
    if (wanted.test(static_cast<std::size_t>(i))) return true;
  }
  return false;
}

}  // namespace

void AdditiveFft::Interpolate(std::uint8_t* const* symbols, std::size_t size, int half) {
  const Factors& factors = TheFactors();
  for (int j = 0; j < kLayers; ++j) {
    const int span = 1 << j;
    for (int group = 0; group < (kPoints >> (j + 1)); ++group) {
      const Multiplier& m = factors.At(half, j, group);
      for (int i = group << (j + 1); i < (group << (j + 1)) + span; ++i) {
        Butterfly(symbols[i], symbols[i + span], size, m, false);
      }
    }
  }
}

void AdditiveFft::Evaluate(std::uint8_t* const* symbols, std::size_t size, int half,
                           const Outputs& wanted) {
  const Factors& factors = TheFactors();
  for (int j = kLayers - 1; j >= 0; --j) {
    const int span = 1 << j;
    for (int group = 0; group < (kPoints >> (j + 1)); ++group) {
      if (!AnyWanted(wanted, group << (j + 1), 2 * span)) continue;
      const Multiplier& m = factors.At(half, j, group);
      for (int i = group << (j + 1); i < (group << (j + 1)) + span; ++i) {
        Butterfly(symbols[i], symbols[i + span], size, m, true);
      }
    }
  }
}

}  // namespace ondavox::fcast
