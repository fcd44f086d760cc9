#pragma once

#include <cstdint>
#include <vector>

#include "fcast/ErasureCode.h"

namespace ondavox::fcast {

// Reed-Solomon over GF(2^8) with a Cauchy generator (identity on top, so the code is
// systematic; every k x k submatrix invertible), computed with ISA-L's vectorised kernels.
// Decoding solves only for the missing source symbols: the received source symbols are taken
// out of the repair equations and a small e x e system is inverted, so its cost follows the
// loss, not the block size.
//
// Caches the generator and the encode tables of the last k and repair ids, which is what a
// sender asks for block after block. Owned by one thread at a time.
class ReedSolomonCode final : public ErasureCode {
 public:
  void Encode(int k, std::size_t symbolSize, const std::uint8_t* const* source,
              std::span<const std::uint8_t> ids, std::uint8_t* const* out) override;
  bool Decode(int k, std::size_t symbolSize, std::uint8_t* const* source,
              std::span<const std::uint8_t> missing, std::span<const std::uint8_t> repairIds,
              const std::uint8_t* const* repair) override;

 private:
  // Makes generator_ the 255 x k generator matrix.
  void UseK(int k);

  int k_ = 0;
  std::vector<std::uint8_t> generator_;  // 255 rows of k coefficients
  std::vector<std::uint8_t> encodeIds_;  // repair ids of encodeTables_
  std::vector<std::uint8_t> encodeTables_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> decodeTables_;
};

}  // namespace ondavox::fcast
