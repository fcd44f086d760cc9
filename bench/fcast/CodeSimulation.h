#pragma once

// The models behind fcast_code_simulation: receivers that lose datagrams, codes with the order
// in which the sender sends their symbols, and what a receiver does once it can decode. Plain
// computation, deterministic from the seeds; no file or network access.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fcast/engine/Packet.h"

namespace ondavox::fcast::simulation {

inline constexpr std::uint64_t kSymbol = kDefaultSymbolSize;
// Bytes on the wire per byte of file: the symbol header on every symbol.
inline constexpr double kHeaderFactor =
    static_cast<double>(kSymbol + kSymbolHeaderSize) / static_cast<double>(kSymbol);

// xoshiro256** seeded through SplitMix64: the same numbers on every machine and library, unlike
// the standard distributions. A value type, one owner.
class Random {
 public:
  explicit Random(std::uint64_t seed);
  std::uint64_t Next();
  // True with probability |threshold| / 2^64.
  bool Below(std::uint64_t threshold) { return Next() < threshold; }
  static std::uint64_t Threshold(double probability);

 private:
  std::array<std::uint64_t, 4> state_{};
};

// What a receiver loses: a mean loss rate, independently per datagram when |burst| is 1, or in
// bursts of |burst| datagrams on average (two states: the bad one loses every datagram, the
// good one none).
struct LossModel {
  double mean = 0;
  double burst = 1;

  bool Bursty() const { return burst > 1; }
  std::string Name() const;
};

// One receiver's losses, datagram after datagram. Owned by the simulation of that receiver.
class LossChannel {
 public:
  LossChannel(const LossModel& model, std::uint64_t seed);
  bool Lost() {
    if (!bursty_) return random_.Below(lose_);
    const bool lost = bad_;
    bad_ = random_.Below(bad_ ? stayBad_ : enterBad_);
    return lost;
  }

 private:
  Random random_;
  const bool bursty_;
  const std::uint64_t lose_;
  const std::uint64_t stayBad_;
  const std::uint64_t enterBad_;
  bool bad_;
};

// What a receiver does after the last symbol it needs for a block: decode the block, unless it
// holds every source symbol, on one of |cores| cores, and hash the file. Two ways to hash: the
// file's SHA-256, which takes the blocks in file order, or a digest of the symbols' digests: a
// receiver hashes each source symbol as it comes and the rebuilt ones after their block's decode
// (the last hash, over 32 bytes per symbol, left out). Times are in symbols sent at the link's
// pace. A value type.
struct Finishing {
  double symbolsPerSecond = 0;      // datagrams per second on the link
  double decodeBytesPerSecond = 0;  // file bytes one core rebuilds per second, this code
  double hashBytesPerSecond = 0;
  int cores = 2;

  // When the file is decoded and hashed, its blocks of |sizes| symbols becoming decodable at
  // |decodable| (symbols sent) with |missing| source symbols (the same order).
  double ReadyAt(const std::vector<std::uint64_t>& sizes,
                 const std::vector<std::uint64_t>& decodable,
                 const std::vector<std::uint64_t>& missing, bool symbolDigests) const;
};

// One receiver's transfer: symbols sent until it can decode the file, and until it has decoded
// and hashed it, with the file's SHA-256 or with symbol digests (0 when the code does not model
// that).
struct Reception {
  std::uint64_t decodable = 0;
  double ready = 0;
  double readySymbolDigests = 0;
};

// A code and the order in which the sender sends its symbols, as one receiver sees them. Made
// for one file size; reused across trials and receivers by one thread.
class CodeModel {
 public:
  virtual ~CodeModel() = default;
  virtual std::string Name() const = 0;
  // The largest block's source symbols.
  virtual std::uint64_t BlockSymbols() const = 0;
  // Bytes a receiver holds to decode one block with whole symbols in memory.
  virtual std::uint64_t DecodeBytes() const = 0;
  // The transfer to the receiver behind |channel|; nothing when the sender has no fresh symbol
  // left before it can decode. |random| draws the code's own chance, if any.
  virtual std::optional<Reception> Receive(LossChannel& channel, Random& random) = 0;
};

// How many symbols beyond its K a block of a code needs to decode.
enum class Overhead {
  kNone,      // any K distinct symbols (MDS)
  kFountain,  // fails from K + e with probability 10^-2(e+1)
};

// What a receiver holds in memory to decode a block of K, in whole symbols.
enum class DecodeMemory {
  kNone,       // not modelled
  kBlock,      // the block's K symbols
  kTransform,  // an additive-FFT decoder's work: 2^ceil(log2 2K), the source and K repair ids
};

// Blocks of at most |maxK| source symbols (as few as hold the file, the symbols shared out
// evenly), each with |ids| distinct symbols (0: unbounded), sent one symbol of each block in
// turn: symbol c of every block, then symbol c + 1 of every block.
class InterleavedCode final : public CodeModel {
 public:
  struct Shape {
    std::uint64_t maxK = 0;
    std::uint64_t ids = 0;
    Overhead overhead = Overhead::kNone;
    DecodeMemory memory = DecodeMemory::kNone;
  };

  InterleavedCode(std::string name, std::uint64_t symbols, const Shape& shape,
                  std::optional<Finishing> finishing = std::nullopt);

  std::string Name() const override { return name_; }
  std::uint64_t BlockSymbols() const override { return sizes_.front(); }
  std::uint64_t DecodeBytes() const override;
  std::optional<Reception> Receive(LossChannel& channel, Random& random) override;

 private:
  std::uint64_t Extra(Random& random) const;

  const std::string name_;
  const Shape shape_;
  const std::optional<Finishing> finishing_;
  std::vector<std::uint64_t> sizes_;
  std::vector<std::uint64_t> need_;
  std::vector<std::uint64_t> held_;
  std::vector<std::uint64_t> decodable_;
  std::vector<std::uint64_t> missing_;  // source symbols not received, per block
};

// The engine's previous code in its order: per-block Reed-Solomon over GF(2^8) with k = 127 (two
// planned rounds), turn 0 the source, each repair turn 8 own symbols per block then the group
// symbols of groups of consecutive blocks of one size, in sweeps over 1 MiB windows
// (descriptors, a few dozen bytes each, left out). Two approximations, both in the code's favour: a repair turn's ids count as fresh
// even once they wrap round to the source ids (turn 2 on, which two planned rounds rarely
// reach), and a group decodes as soon as the group symbols it holds are at least its blocks'
// shortfall (source symbols missing after their own repair symbols), as if its joint system
// never fell short. Its decodes are small and spread over the transfer: not modelled.
class GroupedCode final : public CodeModel {
 public:
  GroupedCode(std::string name, std::uint64_t symbols, std::uint32_t groupBlocks,
              std::uint32_t turns);

  std::string Name() const override { return name_; }
  std::uint64_t BlockSymbols() const override { return layout_.K(); }
  // The group's blocks, which its joint system reads at once.
  std::uint64_t DecodeBytes() const override;
  std::optional<Reception> Receive(LossChannel& channel, Random& random) override;

 private:
  static constexpr std::uint32_t kK = 127;
  static constexpr std::uint32_t kGroupFlag = 1u << 31;
  // A repair turn's own positions per block; the others go into group symbols.
  static constexpr std::uint32_t kOwnPositions = 8;
  static constexpr std::size_t kWindowBytes = 1 << 20;

  // Blocks of at most kK symbols shared out evenly (the leading ones one longer), and groups of
  // up to groupBlocks consecutive blocks of the same size.
  class Layout {
   public:
    Layout(std::uint64_t symbols, std::uint32_t groupBlocks);
    std::uint32_t K() const { return shortBlock_ + (longBlocks_ != 0 ? 1 : 0); }
    std::uint32_t BlockCount() const { return blocks_; }
    std::uint32_t SourceSymbols(std::uint32_t block) const;
    std::uint32_t GroupBlocks() const { return groupBlocks_; }
    std::uint32_t GroupCount() const { return longGroups_ + shortGroups_; }
    std::uint32_t GroupOf(std::uint32_t block) const;
    std::uint32_t GroupFirstBlock(std::uint32_t group) const;
    std::uint32_t GroupSize(std::uint32_t group) const;

   private:
    std::uint32_t blocks_ = 0;
    std::uint32_t shortBlock_ = 0;
    std::uint32_t longBlocks_ = 0;
    std::uint32_t groupBlocks_ = 1;
    std::uint32_t longGroups_ = 0;
    std::uint32_t shortGroups_ = 0;
  };

  // The end of the sweep of own positions from |from|, and of group symbols from |from|.
  static std::uint32_t SweepEnd(std::uint32_t from, std::uint32_t k);
  static std::uint32_t GroupSweepEnd(std::uint32_t from, std::uint32_t total);
  // Group symbols in a repair turn of a group of |blocks| blocks of |k| source symbols.
  static std::uint32_t GroupSymbols(std::uint32_t blocks, std::uint32_t k);

  void AddTurn(std::uint32_t turn);

  const std::string name_;
  const Layout layout_;
  std::vector<std::uint32_t> order_;  // a block, or a group with kGroupFlag, per symbol sent
  std::vector<std::uint64_t> initialShortfall_;
  std::vector<std::uint32_t> own_;   // distinct own symbols held, per block
  std::vector<std::uint32_t> held_;  // group symbols held, per group
  std::vector<std::uint64_t> shortfall_;
  std::vector<bool> solved_;
};

// Symbols of a file of |fileBytes|.
std::uint64_t Symbols(std::uint64_t fileBytes);
// The largest of as few blocks of at most |maxK| as hold |symbols|, shared out evenly.
std::uint64_t LargestBlock(std::uint64_t symbols, std::uint64_t maxK);

// A file sent to receivers that all lose datagrams the same way, over several trials.
struct Case {
  std::uint64_t fileBytes = 0;
  int receivers = 0;
  LossModel loss;
  int trials = 0;
};

// Factors: symbols sent over the file's symbols, times the header, for the slowest receiver of
// each trial.
struct Outcome {
  double mean = 0;
  double worst = 0;
  double meanReady = 0;  // until decoded and hashed; 0 when not modelled
  double worstReady = 0;
  double meanReadySymbolDigests = 0;  // the same with symbol digests
  int unfinished = 0;                 // trials in which a receiver ran out of fresh symbols
};

// Runs |c| with |code|. The seeds depend on the case, trial and receiver only, so the codes that
// send one symbol of each block in turn meet the same losses.
Outcome Simulate(CodeModel& code, const Case& c);

// The expected slowest of the case's receivers to collect S symbols under independent loss p,
// in the normal approximation of the negative binomial, as a factor.
double ClosedFormLimit(const Case& c);

}  // namespace ondavox::fcast::simulation
