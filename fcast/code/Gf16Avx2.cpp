// Built with AVX2 enabled: called only when the processor has it.
#include "fcast/code/Gf16VectorLoop.h"

namespace ondavox::fcast::gf16 {

void RunAvx2(Op op, const std::uint8_t (*nibbles)[2][16], std::uint8_t* x, std::uint8_t* y,
             std::size_t bytes) {
  __m256i tables[4][2];
  for (int n = 0; n < 4; ++n) {
    for (int h = 0; h < 2; ++h) {
      tables[n][h] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(nibbles[n][h])));
    }
  }
  const __m256i mask = _mm256_set1_epi8(0x0f);
  const auto product = [&](__m256i lo, __m256i hi, __m256i& outLo, __m256i& outHi) {
    const __m256i parts[4] = {
        _mm256_and_si256(lo, mask), _mm256_and_si256(_mm256_srli_epi64(lo, 4), mask),
        _mm256_and_si256(hi, mask), _mm256_and_si256(_mm256_srli_epi64(hi, 4), mask)};
    outLo = _mm256_setzero_si256();
    outHi = _mm256_setzero_si256();
    for (int n = 0; n < 4; ++n) {
      outLo = _mm256_xor_si256(outLo, _mm256_shuffle_epi8(tables[n][0], parts[n]));
      outHi = _mm256_xor_si256(outHi, _mm256_shuffle_epi8(tables[n][1], parts[n]));
    }
  };
  Dispatch(op, product, x, y, bytes);
}

}  // namespace ondavox::fcast::gf16
