// Built with AVX2 enabled: called only when the processor has it.
#include "fcast/code/Gf16.h"
#include "fcast/code/Gf16VectorLoop.h"

namespace ondavox::fcast::gf16 {

void RunAvx2(Op op, std::uint16_t c, std::uint8_t* x, std::uint8_t* y, std::size_t bytes) {
  // The products of c and the powers of two, each the one before times x.
  std::uint16_t units[16];
  units[0] = c;
#pragma GCC unroll 15
  for (int b = 1; b < 16; ++b) {
    const unsigned before = units[b - 1];
    units[b] = static_cast<std::uint16_t>(before << 1 ^ ((0u - (before >> 15)) & Gf16::kPolynomial));
  }
  // tables[n][h], in both lanes: byte h of the products of c and v << 4n for v = 0..15, the sum
  // of the units of the bits of v, each picked where v has its bit.
  const __m256i v = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  __m256i has[4];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    const __m256i bit = _mm256_set1_epi8(static_cast<char>(1 << i));
    has[i] = _mm256_cmpeq_epi8(_mm256_and_si256(v, bit), bit);
  }
  __m256i tables[4][2];
#pragma GCC unroll 4
  for (int n = 0; n < 4; ++n) {
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
      __m256i table = _mm256_setzero_si256();
#pragma GCC unroll 4
      for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<char>(units[4 * n + i] >> (8 * h));
        table = _mm256_xor_si256(table, _mm256_and_si256(has[i], _mm256_set1_epi8(byte)));
      }
      tables[n][h] = table;
    }
  }
  const __m256i mask = _mm256_set1_epi8(0x0f);
  const auto product = [&](__m256i lo, __m256i hi, __m256i& outLo, __m256i& outHi) {
    const __m256i parts[4] = {
        _mm256_and_si256(lo, mask), _mm256_and_si256(_mm256_srli_epi64(lo, 4), mask),
        _mm256_and_si256(hi, mask), _mm256_and_si256(_mm256_srli_epi64(hi, 4), mask)};
    outLo = _mm256_setzero_si256();
    outHi = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
      outLo = _mm256_xor_si256(outLo, _mm256_shuffle_epi8(tables[n][0], parts[n]));
      outHi = _mm256_xor_si256(outHi, _mm256_shuffle_epi8(tables[n][1], parts[n]));
    }
  };
  Dispatch(op, product, x, y, bytes);
}

}  // namespace ondavox::fcast::gf16
