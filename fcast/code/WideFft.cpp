#include "fcast/code/WideFft.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "fcast/code/Gf16.h"
#include "fcast/code/Gf16MultiplyAdd.h"

namespace ondavox::fcast {
namespace {

constexpr int kLayers = 16;

// Whole blocks of the derivative up to this many points are derived by XOR in a rescaled basis.
constexpr std::uint32_t kScaledPoints = 16384;

// Layer j's butterflies in the group of 2^(j+1) points starting at global point G 2^(j+1)
// multiply by s_j(G 2^(j+1)) / s_j(2^j); the derivative of that normalised s_j is a constant.
class Factors {
 public:
  Factors() {
    // s_0(x) = x and s_(j+1)(x) = s_j(x) (s_j(x) + s_j(2^j)); every s_j is additive, so its
    // values at the powers of two give it everywhere. Its coefficient of x, the derivative, is
    // the product of the s_t(2^t) for t < j.
    std::array<std::array<std::uint16_t, kLayers>, kLayers> s{};
    for (int b = 0; b < kLayers; ++b) s[0][b] = static_cast<std::uint16_t>(1u << b);
    for (int j = 0; j + 1 < kLayers; ++j) {
      for (int b = 0; b < kLayers; ++b) {
        s[j + 1][b] = Gf16::Multiply(s[j][b], static_cast<std::uint16_t>(s[j][b] ^ s[j][j]));
      }
    }
    std::uint16_t linear = 1;
    for (int j = 0; j < kLayers; ++j) {
      const std::uint16_t norm = s[j][j];
      derivatives_[j] = Gf16MultiplyAdd(Gf16::Divide(linear, norm));
      linear = Gf16::Multiply(linear, norm);
      const std::uint32_t groups = 65536u >> (j + 1);
      layers_[j].resize(groups);
      std::vector<std::uint16_t> values(groups, 0);
      for (std::uint32_t g = 1; g < groups; ++g) {
        const int low = __builtin_ctz(g);
        values[g] =
            static_cast<std::uint16_t>(values[g & (g - 1)] ^ Gf16::Divide(s[j][j + 1 + low], norm));
        layers_[j][g] = Gf16MultiplyAdd(values[g]);
      }
    }
    // w_t, the product of the derivatives' constants c_j over the bits j of t, and its inverse.
    std::vector<std::uint16_t> weights(kScaledPoints, 1);
    weights_.resize(kScaledPoints);
    unweights_.resize(kScaledPoints);
    for (std::uint32_t t = 0; t < kScaledPoints; ++t) {
      if (t > 0) {
        weights[t] =
            Gf16::Multiply(weights[t & (t - 1)], derivatives_[__builtin_ctz(t)].Constant());
      }
      weights_[t] = Gf16MultiplyAdd(weights[t]);
      unweights_[t] = Gf16MultiplyAdd(Gf16::Divide(1, weights[t]));
    }
  }

  const Gf16MultiplyAdd& At(int layer, std::uint32_t group) const { return layers_[layer][group]; }
  const Gf16MultiplyAdd& Derivative(int layer) const { return derivatives_[layer]; }
  // Multiplication by w_t and by 1 / w_t, for t below kScaledPoints.
  const Gf16MultiplyAdd& Weight(std::uint32_t t) const { return weights_[t]; }
  const Gf16MultiplyAdd& Unweight(std::uint32_t t) const { return unweights_[t]; }

 private:
  std::array<std::vector<Gf16MultiplyAdd>, kLayers> layers_;
  std::array<Gf16MultiplyAdd, kLayers> derivatives_;
  std::vector<Gf16MultiplyAdd> weights_;
  std::vector<Gf16MultiplyAdd> unweights_;
};

const Factors& TheFactors() {
  static const Factors factors;
  return factors;
}

int Log2(std::uint32_t n) { return __builtin_ctz(n); }

// Layers below this many points' groups run block by block, each block staying in cache
// through all of them; the layers above stream the whole column.
constexpr std::uint32_t kCachedPoints = 4096;

// The inverse butterflies of layer j on the points [from, to) of the column, those of groups
// holding any of the inputs.
void InverseLayer(const Factors& factors, std::uint8_t* column, int j, std::uint32_t from,
                  std::uint32_t to, std::uint32_t offset, const WidePoints& inputs) {
  const std::uint32_t span = 1u << j;
  const std::size_t bytes = span * WideFft::kChunkBytes;
  for (std::uint32_t base = from; base < to; base += 2 * span) {
    if (!inputs.Meets(base, base + 2 * span)) continue;
    std::uint8_t* x = column + base * WideFft::kChunkBytes;
    factors.At(j, (offset + base) >> (j + 1)).Inverse(x, x + bytes, bytes);
  }
}

// The forward butterflies of layer j on the points [from, to), those that lead to wanted
// values only.
void ForwardLayer(const Factors& factors, std::uint8_t* column, int j, std::uint32_t from,
                  std::uint32_t to, std::uint32_t offset, const WidePoints& wanted) {
  const std::uint32_t span = 1u << j;
  const std::size_t bytes = span * WideFft::kChunkBytes;
  for (std::uint32_t base = from; base < to; base += 2 * span) {
    const bool upper = wanted.Meets(base + span, base + 2 * span);
    if (!upper && !wanted.Meets(base, base + span)) continue;
    std::uint8_t* x = column + base * WideFft::kChunkBytes;
    const Gf16MultiplyAdd& factor = factors.At(j, (offset + base) >> (j + 1));
    if (upper) {
      factor.Forward(x, x + bytes, bytes);
    } else if (factor.Constant() != 0) {  // the upper half unwanted
      factor.MultiplyAdd(x + bytes, x, bytes);
    }
  }
}

// D[m] = C[m] + sum over the bits j clear in m of c_j C[m + 2^j] (the derivative of X_i being
// the sum over the bits j of i of c_j X_(i - 2^j)), within one block of n points, for m below
// limit: the lower half's own, from its coefficients as they were, plus c_top times the upper
// half, before the upper half is changed.
// dest ^= src over |bytes|, a multiple of 64.
void XorChunks(const std::uint8_t* src, std::uint8_t* dest, std::size_t bytes) {
  for (std::size_t at = 0; at < bytes; at += 16) {
    auto* d = reinterpret_cast<__m128i*>(dest + at);
    _mm_storeu_si128(d, _mm_xor_si128(_mm_loadu_si128(d),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at))));
  }
}

// DeriveBlock over a whole block of n <= kScaledPoints points. With the coefficients scaled by
// w_t, every c_j becomes 1 (w_(t + 2^j) = w_t c_j), so the derivative takes XORs only, in the
// same order as the recursion below: block i's lower neighbour, i's lowest bit wide, takes it.
void DeriveScaled(const Factors& factors, std::uint8_t* column, std::uint32_t n) {
  constexpr std::size_t kChunk = WideFft::kChunkBytes;
  for (std::uint32_t t = 1; t < n; ++t) factors.Weight(t).Scale(column + t * kChunk, kChunk);
  for (std::uint32_t i = 1; i < n; ++i) {
    const std::uint32_t width = i & (0u - i);
    XorChunks(column + i * kChunk, column + (i - width) * kChunk, width * kChunk);
  }
  for (std::uint32_t t = 1; t < n; ++t) factors.Unweight(t).Scale(column + t * kChunk, kChunk);
}

void DeriveBlock(const Factors& factors, std::uint8_t* column, std::uint32_t n,
                 std::uint32_t limit) {
  if (n == 1) return;
  if (limit == n && n <= kScaledPoints) {
    DeriveScaled(factors, column, n);
    return;
  }
  const std::uint32_t half = n / 2;
  std::uint8_t* upper = column + half * WideFft::kChunkBytes;
  DeriveBlock(factors, column, half, std::min(half, limit));
  factors.Derivative(Log2(half)).MultiplyAdd(upper, column, half * WideFft::kChunkBytes);
  if (limit > half) DeriveBlock(factors, upper, half, limit - half);
}

}  // namespace

WidePoints WidePoints::Below(std::uint32_t n, std::uint32_t count) {
  WidePoints points;
  points.before_.resize(std::size_t{n} + 1);
  for (std::uint32_t i = 0; i <= n; ++i) points.before_[i] = std::min(i, count);
  return points;
}

WidePoints::WidePoints(std::uint32_t n, std::span<const std::uint32_t> points)
    : before_(std::size_t{n} + 1, 0) {
  for (std::uint32_t point : points) before_[point + 1] = 1;
  for (std::uint32_t i = 0; i < n; ++i) before_[i + 1] += before_[i];
}

void WideFft::Prepare() { TheFactors(); }

void WideFft::Interpolate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset,
                          const WidePoints& inputs) {
  const Factors& factors = TheFactors();
  const std::uint32_t block = std::min(n, kCachedPoints);
  for (std::uint32_t from = 0; from < n; from += block) {
    if (!inputs.Meets(from, from + block)) continue;
    for (int j = 0; j < Log2(block); ++j) {
      InverseLayer(factors, column, j, from, from + block, offset, inputs);
    }
  }
  for (int j = Log2(block); j < Log2(n); ++j) {
    InverseLayer(factors, column, j, 0, n, offset, inputs);
  }
}

void WideFft::Evaluate(std::uint8_t* column, std::uint32_t n, std::uint32_t offset,
                       const WidePoints& wanted) {
  const Factors& factors = TheFactors();
  const std::uint32_t block = std::min(n, kCachedPoints);
  for (int j = Log2(n) - 1; j >= Log2(block); --j) {
    ForwardLayer(factors, column, j, 0, n, offset, wanted);
  }
  for (std::uint32_t from = 0; from < n; from += block) {
    if (!wanted.Meets(from, from + block)) continue;
    for (int j = Log2(block) - 1; j >= 0; --j) {
      ForwardLayer(factors, column, j, from, from + block, offset, wanted);
    }
  }
}

void WideFft::Derive(std::uint8_t* column, std::uint32_t n, std::uint32_t limit) {
  DeriveBlock(TheFactors(), column, n, limit);
}

void WideFft::ToChunk(const std::uint8_t* elements, std::size_t bytes, std::uint8_t* chunk) {
  alignas(16) std::uint8_t padded[kChunkBytes];
  if (bytes < kChunkBytes) {
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, elements, bytes);
    elements = padded;
  }
  const __m128i mask = _mm_set1_epi16(0x00ff);
  for (int half = 0; half < 2; ++half) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(elements + 32 * half));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(elements + 32 * half + 16));
    const __m128i low = _mm_packus_epi16(_mm_and_si128(a, mask), _mm_and_si128(b, mask));
    const __m128i high = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(chunk + 16 * half), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(chunk + 32 + 16 * half), high);
  }
}

void WideFft::FromChunk(const std::uint8_t* chunk, std::uint8_t* elements, std::size_t bytes) {
  alignas(16) std::uint8_t whole[kChunkBytes];
  std::uint8_t* out = bytes < kChunkBytes ? whole : elements;
  for (int half = 0; half < 2; ++half) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * half));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 32 + 16 * half));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * half), _mm_unpacklo_epi8(low, high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * half + 16),
                     _mm_unpackhi_epi8(low, high));
  }
  if (out == whole) std::memcpy(elements, whole, bytes);
}

}  // namespace ondavox::fcast
