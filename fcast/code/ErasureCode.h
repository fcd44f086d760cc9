#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace ondavox::fcast {

// A systematic linear erasure code over blocks of k source symbols of equal size: symbol ids
// below k are the source symbols themselves, ids from k up to kMaxSymbolsPerBlock are repair
// symbols, any k distinct symbols of a block rebuild it, and every symbol is a fixed linear
// combination of the block's source symbols over GF(2^8). The sender and the receiver each own one
// and use it from their own thread; implementations need not be thread safe.
class ErasureCode {
 public:
  virtual ~ErasureCode() = default;

  // Computes the symbols |ids| (below kMaxSymbolsPerBlock; a source id gives a copy of that
  // source symbol) of the block whose k source symbols are |source|, into |out|, one buffer of
  // |symbolSize| bytes per id.
  virtual void Encode(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                      std::span<const std::uint8_t> ids, std::uint8_t* const* out) = 0;

  // Rebuilds the source symbols listed in |missing| (ascending) into their buffers in
  // |source| (k buffers; the others hold the received source symbols), from received repair
  // symbols |repair| with ids |repairIds| (distinct, at least as many as are missing; the
  // first missing.size() are used). False when there are too few.
  virtual bool Decode(int k, std::size_t symbolSize, std::uint8_t* const* source,
                      std::span<const std::uint8_t> missing,
                      std::span<const std::uint8_t> repairIds,
                      const std::uint8_t* const* repair) = 0;

  // The weights of the k source symbols in symbol |id|, into |row| (k bytes).
  virtual void Coefficients(int k, int id, std::uint8_t* row) = 0;
};

// The code the engine uses, for blocks of 1 to kMaxCodeSourceSymbols source symbols.
inline constexpr int kMaxCodeSourceSymbols = 128;
std::unique_ptr<ErasureCode> MakeErasureCode();

}  // namespace ondavox::fcast
