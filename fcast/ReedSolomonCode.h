#pragma once

#include <cstdint>
#include <vector>

#include "fcast/ErasureCode.h"

namespace ondavox::fcast {

// Reed-Solomon over GF(2^8) as polynomial values: a block's k source symbols are the values
// of a polynomial of degree below 128 at the field's points 128 + i (and zero at the rest of
// that half), its repair symbols its values at points 0..127 (ids k to k + 127, at most 254).
// Any k symbols and the known zeros are 128 values of that polynomial, which fix it, so any k
// rebuild the block. Repair symbols asked for in numbers are computed with the additive FFT
// (interpolate on the sources' half, evaluate on the other, skipping what leads to no asked
// id); a few of them, and decoding, with the generator matrix and ISA-L's vectorised kernels.
// Decoding solves only for the missing source symbols: the received source symbols are taken
// out of the repair equations and a small e x e system is inverted, so its cost follows the
// loss, not the block size.
//
class ReedSolomonCode final : public ErasureCode {
 public:
  void Encode(int k, std::size_t symbolSize, const std::uint8_t* const* source,
              std::span<const std::uint8_t> ids, std::uint8_t* const* out) override;
  bool Decode(int k, std::size_t symbolSize, std::uint8_t* const* source,
              std::span<const std::uint8_t> missing, std::span<const std::uint8_t> repairIds,
              const std::uint8_t* const* repair) override;

 private:
  // Makes generator_ the generator matrix for |k|.
  void UseK(int k);
  // The repair symbols |ids| through the FFT, or false when the matrix costs less for them.
  bool EncodeByFft(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                   std::span<const std::uint8_t> ids, std::uint8_t* const* out);

  int k_ = 0;
  std::vector<std::uint8_t> generator_;  // kMaxSymbolsPerBlock rows of k coefficients
  std::vector<std::uint8_t> encodeIds_;  // repair ids of encodeTables_
  std::vector<std::uint8_t> encodeTables_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> decodeTables_;
  std::vector<std::uint8_t> workspace_;  // the FFT's 128 symbols
};

}  // namespace ondavox::fcast
