#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "fcast/code/ErasureCode.h"

namespace ondavox::fcast {

// Reed-Solomon over GF(2^8) as polynomial values: a block of k source symbols (k up to 128)
// is the values of a polynomial of degree below k, and symbol id is its value at the field's
// point id ^ 128 (ids below k: the source symbols; ids k..127: the rest of the sources' half of
// the field; ids 128..254: the other half). Any k values fix the polynomial, so any k symbols
// rebuild the block. Repair symbols asked for in numbers are computed with the additive FFT:
// the rest of the sources' half from a (128 - k) x k matrix, then interpolation on that half
// and evaluation on the other, skipping what leads to no asked id. A few of them, and
// decoding, use the generator matrix with ISA-L's vectorised kernels. Decoding solves only for
// the missing source symbols: the received source symbols are taken out of the repair
// equations and a small e x e system is inverted, so its cost follows the loss, not the block
// size.
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
  void Coefficients(int k, int id, std::uint8_t* row) override;

 private:
  // The matrices of one block size.
  struct Matrices {
    int k = 0;
    std::vector<std::uint8_t> generator;  // kMaxSymbolsPerBlock rows of k coefficients
    std::vector<std::uint8_t> pad;        // ids k..127 from the sources
    std::vector<std::uint8_t> padTables;
  };

  // Makes matrices_[0] those of |k|. A file's blocks have two sizes (K and K - 1) and reach a
  // receiver in any order, so the last two are kept: building them takes over a millisecond
  // at k = 85.
  void UseK(int k);
  // The repair symbols |ids| through the FFT, or false when the matrix costs less for them.
  bool EncodeByFft(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                   std::span<const std::uint8_t> ids, std::uint8_t* const* out);

  std::array<Matrices, 2> matrices_;     // the current k first
  std::vector<std::uint8_t> encodeIds_;  // repair ids of encodeTables_
  std::vector<std::uint8_t> encodeTables_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> decodeTables_;
  std::vector<std::uint8_t> workspace_;  // the FFT's 128 symbols
};

}  // namespace ondavox::fcast
