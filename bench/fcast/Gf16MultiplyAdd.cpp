#include "bench/fcast/Gf16MultiplyAdd.h"

#include <immintrin.h>

namespace ondavox::fcast::simulation {

Gf16MultiplyAdd::Gf16MultiplyAdd(std::uint16_t c) {
  for (int x = 0; x < 256; ++x) {
    low_[x] = Multiply(c, static_cast<std::uint16_t>(x));
    high_[x] = Multiply(c, static_cast<std::uint16_t>(x << 8));
  }
  for (int nibble = 0; nibble < 4; ++nibble) {
    for (int x = 0; x < 16; ++x) {
      const std::uint16_t product = Multiply(c, static_cast<std::uint16_t>(x << (4 * nibble)));
      nibbles_[nibble][0][x] = static_cast<std::uint8_t>(product);
      nibbles_[nibble][1][x] = static_cast<std::uint8_t>(product >> 8);
    }
  }
  // Byte 7 - i of an affine transform's matrix selects the input bits whose parity makes
  // output bit i.
  for (int k = 0; k < 16; ++k) {
    const std::uint16_t column = Multiply(c, static_cast<std::uint16_t>(1u << k));
    for (int bit = 0; bit < 16; ++bit) {
      if (!(column & (1u << bit))) continue;
      matrices_[bit / 8][k / 8] |= std::uint64_t{1} << (8 * (7 - bit % 8) + k % 8);
    }
  }
}

std::uint16_t Gf16MultiplyAdd::Multiply(std::uint16_t a, std::uint16_t b) {
  std::uint32_t product = 0;
  std::uint32_t shifted = a;
  for (int bit = 0; bit < 16; ++bit) {
    if (b & (1u << bit)) product ^= shifted;
    shifted <<= 1;
    if (shifted & 0x10000) shifted ^= 0x1002d;
  }
  return static_cast<std::uint16_t>(product);
}

void Gf16MultiplyAdd::Scalar(const std::uint16_t* src, std::uint16_t* dest,
                             std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) {
    dest[i] ^= static_cast<std::uint16_t>(low_[src[i] & 0xff] ^ high_[src[i] >> 8]);
  }
}

__attribute__((target("avx2"))) void Gf16MultiplyAdd::Avx2(const std::uint8_t* src,
                                                           std::uint8_t* dest,
                                                           std::size_t bytes) const {
  __m256i tables[4][2];
  for (int n = 0; n < 4; ++n) {
    for (int h = 0; h < 2; ++h) {
      tables[n][h] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(nibbles_[n][h])));
    }
  }
  const __m256i mask = _mm256_set1_epi8(0x0f);
  for (std::size_t i = 0; i < bytes; i += 64) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
    const __m256i nibbles[4] = {
        _mm256_and_si256(lo, mask), _mm256_and_si256(_mm256_srli_epi64(lo, 4), mask),
        _mm256_and_si256(hi, mask), _mm256_and_si256(_mm256_srli_epi64(hi, 4), mask)};
    __m256i outLo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i));
    __m256i outHi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i + 32));
    for (int n = 0; n < 4; ++n) {
      outLo = _mm256_xor_si256(outLo, _mm256_shuffle_epi8(tables[n][0], nibbles[n]));
      outHi = _mm256_xor_si256(outHi, _mm256_shuffle_epi8(tables[n][1], nibbles[n]));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i), outLo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 32), outHi);
  }
}

__attribute__((target("gfni,avx2"))) void Gf16MultiplyAdd::Gfni(const std::uint8_t* src,
                                                                std::uint8_t* dest,
                                                                std::size_t bytes) const {
  __m256i m[2][2];
  for (int out = 0; out < 2; ++out) {
    for (int in = 0; in < 2; ++in) {
      m[out][in] = _mm256_set1_epi64x(static_cast<long long>(matrices_[out][in]));
    }
  }
  for (std::size_t i = 0; i < bytes; i += 64) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
    __m256i outLo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i));
    __m256i outHi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i + 32));
    outLo =
        _mm256_xor_si256(outLo, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, m[0][0], 0),
                                                 _mm256_gf2p8affine_epi64_epi8(hi, m[0][1], 0)));
    outHi =
        _mm256_xor_si256(outHi, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, m[1][0], 0),
                                                 _mm256_gf2p8affine_epi64_epi8(hi, m[1][1], 0)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i), outLo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 32), outHi);
  }
}

}  // namespace ondavox::fcast::simulation
