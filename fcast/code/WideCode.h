#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fcast/code/Gf16MultiplyAdd.h"
#include "fcast/code/WideFft.h"
#include "fcast/code/WorkBuffer.h"

namespace ondavox::fcast {

// A Reed-Solomon erasure code over GF(2^16) (polynomial x^16 + x^5 + x^3 + x^2 + 1) for blocks of
// up to kWideMaxSourceSymbols source symbols and kWideSymbolIds symbol ids, encoded and decoded
// with the additive FFT in O(n log n) whole-symbol operations.
//
// Definition (what the wire relies on). A symbol of |symbolSize| bytes (even) is symbolSize / 2
// elements, element e being bytes 2e (low) and 2e + 1 (high). Id u names the field element
// whose bits are u. A block of k source symbols has stride K = WideStride(k) (k rounded up to a
// power of two); for each element position e, f is the one polynomial of degree below K with
// f(u) = element e of source symbol u for u < k and f(u) = 0 for k <= u < K; symbol u of the
// block, for any u below kWideSymbolIds, holds f(u) at position e. So ids below k are the source
// symbols, ids k to K - 1 are zero and never sent, and repair ids run from K to 65535 in cosets
// of K ids: coset c holds ids [c K, (c + 1) K). Any k distinct symbols of a block rebuild it.
inline constexpr std::uint32_t kWideMaxSourceSymbols = 16384;
inline constexpr std::uint32_t kWideSymbolIds = 65536;

// k rounded up to a power of two: the block's count of ids in a coset. REQUIRES: 1 <= k <=
// kWideMaxSourceSymbols.
std::uint32_t WideStride(std::uint32_t k);

// Computes repair symbols. Owned by one thread; keeps its work memory between calls.
class WideEncoder {
 public:
  // Writes symbols [coset * K, coset * K + count) of the block whose k source symbols are
  // |source| (k buffers of |symbolSize| bytes) into |out| (count buffers of |symbolSize|
  // bytes). REQUIRES: symbolSize even, 1 <= coset < kWideSymbolIds / K, 1 <= count <= K.
  void EncodeCoset(std::uint32_t k, std::size_t symbolSize, const std::uint8_t* const* source,
                   std::uint32_t coset, std::uint32_t count, std::uint8_t* const* out);

 private:
  std::vector<std::uint8_t> work_;
};

// Rebuilds the missing source symbols of one block from any k of its symbols, in passes over
// slices of the symbols' bytes so that its work memory stays within a bound whatever the block:
//
//   decoder.Plan(k, symbolSize, ids);
//   for (int pass = 0; pass < decoder.Passes(); ++pass) {
//     for each index i of ids with decoder.Uses(i): decoder.Put(i, whole symbol ids[i]);
//     decoder.Solve();
//     for each id in decoder.Missing(): decoder.Get(id, buffer); write buffer's bytes
//         [decoder.PassBegin(pass), decoder.PassEnd(pass)) into source symbol id;
//   }
//
// Owned by one thread; keeps its work memory between blocks. Solve shares a large pass's
// columns out among up to |threads| threads (the caller's and short-lived helpers), as many as
// the processor has, each on columns of its own; the rest runs on the caller's thread.
class WideDecoder {
 public:
  // Work memory of at most |maxWorkBytes| (beyond a few small tables), and at least what one
  // pass over one 32-element slice of the symbols needs.
  explicit WideDecoder(std::size_t maxWorkBytes = std::size_t{24} << 20, int threads = 2);

  // Readies the transforms' tables and the work memory, touched, for blocks of up to k source
  // symbols of |symbolSize| bytes rebuilt with symbols of the first repair coset, so that the
  // first of them decodes as fast as the next: a receiver calls it as a file begins.
  void Prepare(std::uint32_t k, std::size_t symbolSize);
  // Prepares decoding a block of k source symbols of |symbolSize| bytes (even) from the
  // received symbols |ids| (distinct, any order). False when they are fewer than k (or, rarely,
  // when its work memory cannot be allocated).
  bool Plan(std::uint32_t k, std::size_t symbolSize, std::span<const std::uint16_t> ids);
  // The source ids below k that are not among the received ids, ascending.
  std::span<const std::uint32_t> Missing() const;
  // Whether the symbol ids[index] takes part; those that do not need not be read.
  bool Uses(std::size_t index) const;
  int Passes() const;
  // The bytes of every symbol that pass |pass| rebuilds: [PassBegin, PassEnd).
  std::size_t PassBegin(int pass) const;
  std::size_t PassEnd(int pass) const;
  // Gives the current pass symbol ids[index] (all symbolSize bytes; only the pass's are read).
  void Put(std::size_t index, const std::uint8_t* symbol);
  // Rebuilds the current pass's bytes of the missing symbols, once every used symbol was Put,
  // calling |between| (when set) on the caller's thread between its columns, a millisecond or
  // so apart.
  void Solve(const std::function<void()>& between = {});
  // Copies the current pass's bytes of missing source symbol |id| into the same bytes of
  // |symbol|, after Solve; the next Put begins the next pass.
  void Get(std::uint32_t id, std::uint8_t* symbol) const;

 private:
  static constexpr std::uint32_t kUnused = ~std::uint32_t{0};

  // The error locator L of the window's erased points: its value at each used symbol's point,
  // and the inverse of its derivative at each missing one.
  void Locate(const std::vector<std::uint8_t>& known);
  // The table for the locator of a window of n points.
  void PrepareWalsh(std::uint32_t n);
  // The columns of one pass over a window of n points, for symbols of |columns| columns.
  std::size_t PassColumnsFor(std::uint32_t n, std::size_t columns) const;
  // Zeroes the points without a symbol before the first Put of a pass.
  void BeginPass();
  // Rebuilds the missing values of column |c| of the pass.
  void SolveColumn(std::size_t c);
  std::size_t PassColumns() const;

  const std::size_t maxWorkBytes_;
  const int threads_;  // for Solve, at most what the processor has
  std::uint32_t k_ = 0;
  std::uint32_t n_ = 0;  // the window: ids [0, n_)
  std::size_t symbolSize_ = 0;
  std::size_t columns_ = 0;      // of 64 symbol bytes, the last one maybe partial
  std::size_t passColumns_ = 0;  // per pass, the last pass maybe fewer
  int passes_ = 0;
  int pass_ = 0;
  bool begun_ = false;
  bool solved_ = false;
  std::vector<std::uint32_t> missing_;
  std::vector<std::uint32_t> points_;            // per index of the ids: its point, or kUnused
  std::vector<Gf16MultiplyAdd> locator_;         // per index: L(point)
  std::vector<Gf16MultiplyAdd> derivatives_;     // per missing id: 1 / L'(id)
  std::vector<std::uint32_t> empty_;             // points of the window without a symbol
  WidePoints inputs_ = WidePoints::Below(1, 1);  // the points that hold a symbol
  WidePoints wanted_ = WidePoints::Below(1, 0);  // the missing ids' points
  std::vector<std::uint32_t> walshOfLog_;        // for the window size walshSize_
  std::uint32_t walshSize_ = 0;
  std::vector<std::uint8_t> staging_;  // one symbol's pass in chunks
  WorkBuffer work_;                    // passColumns_ columns of n_ chunks
};

}  // namespace ondavox::fcast
