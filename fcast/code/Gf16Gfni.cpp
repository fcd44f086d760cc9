// Built with AVX2 and GFNI enabled: called only when the processor has both.
#include "fcast/code/Gf16VectorLoop.h"

namespace ondavox::fcast::gf16 {

void RunGfni(Op op, const std::uint64_t (*matrices)[2], std::uint8_t* x, std::uint8_t* y,
             std::size_t bytes) {
  __m256i m[2][2];
  for (int out = 0; out < 2; ++out) {
    for (int in = 0; in < 2; ++in) {
      m[out][in] = _mm256_set1_epi64x(static_cast<long long>(matrices[out][in]));
    }
  }
  const auto product = [&](__m256i lo, __m256i hi, __m256i& outLo, __m256i& outHi) {
    outLo = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, m[0][0], 0),
                             _mm256_gf2p8affine_epi64_epi8(hi, m[0][1], 0));
    outHi = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(lo, m[1][0], 0),
                             _mm256_gf2p8affine_epi64_epi8(hi, m[1][1], 0));
  };
  Dispatch(op, product, x, y, bytes);
}

}  // namespace ondavox::fcast::gf16
