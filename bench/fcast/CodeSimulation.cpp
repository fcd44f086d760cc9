// Which erasure code, and which block size, lets every receiver of a carousel finish soonest
// without a return channel. For a file of S symbols sent to R receivers that each lose
// datagrams on their own (independently, or in bursts), it simulates each receiver datagram by
// datagram and counts the symbols the sender has sent when the receiver can first decode the
// whole file; a trial's factor is the slowest receiver's count over S, times the symbol header
// (1424 bytes on the wire for 1400 of file). It prints, per code and case, the mean and worst
// factor over the trials, the limit (the same simulation with an ideal code: one block of S
// symbols, any S of them decode), its closed form for independent loss, and what a receiver
// holds in memory to decode one block. Then it measures a GF(2^16) multiply-add on one core.
//
// The codes:
//   grouped RS  the engine's code: Reed-Solomon over GF(2^8) per block of k <= 127, 8 own
//               symbols per block in a repair turn and group symbols over 4 (or 8) blocks,
//               in the sender's own order (FileLayout, CarouselWindow's sweeps and windows).
//   RS16        Reed-Solomon over GF(2^16) (additive FFT, n <= 65536 ids) in blocks of K; the
//               sender sends symbol c of every block before symbol c + 1 of any.
//   fountain    a systematic rateless code, blocks of up to 56403 symbols, same order; a block
//               fails to decode from K + e symbols with probability 10^-2(e+1).
//
// Deterministic: the seeds depend only on the case, trial and receiver, so every code in a
// case that sends one symbol per block in turn meets the same losses. Plain computation, no
// file or network access; the default run takes about two minutes on one core, --quick
// a fifth of that.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fcast/engine/CarouselWindow.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"

namespace {

using namespace ondavox::fcast;

constexpr std::uint64_t kSymbol = kDefaultSymbolSize;
constexpr double kHeaderFactor = static_cast<double>(kSymbol + kSymbolHeaderSize) / kSymbol;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// xoshiro256** seeded through SplitMix: the same numbers on every machine and library, unlike
// the standard distributions. A value type, one owner.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (std::uint64_t& word : state_) word = SplitMix(seed);
  }
  std::uint64_t Next() {
    const std::uint64_t result = std::rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = std::rotl(state_[3], 45);
    return result;
  }
  // True with probability |threshold| / 2^64.
  bool Below(std::uint64_t threshold) { return Next() < threshold; }
  static std::uint64_t Threshold(double probability) {
    return static_cast<std::uint64_t>(std::ldexp(probability, 64));
  }

 private:
  std::array<std::uint64_t, 4> state_{};
};

// What a receiver loses: a mean loss rate, independently per datagram when |burst| is 1, or in
// bursts of |burst| datagrams on average (a two-state chain: the bad state loses every
// datagram, the good state none).
struct LossModel {
  double mean = 0;
  double burst = 1;

  bool Bursty() const { return burst > 1; }
  std::string Name() const {
    char text[32];
    if (Bursty()) {
      std::snprintf(text, sizeof text, "%g%%/b%g", mean * 100, burst);
    } else {
      std::snprintf(text, sizeof text, "%g%%", mean * 100);
    }
    return text;
  }
};

// One receiver's losses, datagram after datagram. Owned by the simulation of that receiver.
class LossChannel {
 public:
  LossChannel(const LossModel& model, std::uint64_t seed)
      : random_(seed),
        bursty_(model.Bursty()),
        lose_(Random::Threshold(model.mean)),
        stayBad_(bursty_ ? Random::Threshold(1 - 1 / model.burst) : 0),
        enterBad_(bursty_ ? Random::Threshold(model.mean / (model.burst * (1 - model.mean))) : 0),
        bad_(bursty_ && random_.Below(lose_)) {}

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

// A code and the order in which the sender sends its symbols, as one receiver sees them: how
// many symbols the sender has sent when that receiver can first decode the whole file. Made for
// one file size; reused across trials and receivers by one thread.
class CodeModel {
 public:
  virtual ~CodeModel() = default;
  virtual std::string Name() const = 0;
  // The largest block's source symbols.
  virtual std::uint64_t BlockSymbols() const = 0;
  // Bytes a receiver holds to decode one block in memory at once; 0 when not meaningful.
  virtual std::uint64_t DecodeBytes() const = 0;
  // Symbols sent until the receiver behind |channel| can decode; nothing when the sender has
  // no fresh symbol left before that. |random| draws the code's own chance, if any.
  virtual std::optional<std::uint64_t> SentUntilDecoded(LossChannel& channel, Random& random) = 0;
};

// How many symbols beyond its K a block of a code needs to decode.
enum class Overhead {
  kNone,      // any K distinct symbols (MDS)
  kFountain,  // fails from K + e with probability 10^-2(e+1)
};

// Blocks of at most |maxK| source symbols (as few as hold the file, the symbols shared out
// evenly), each with |ids| distinct symbols (0: unbounded), sent one symbol of each block in
// turn: symbol c of every block, then symbol c + 1 of every block.
class InterleavedCode final : public CodeModel {
 public:
  InterleavedCode(std::string name, std::uint64_t symbols, std::uint64_t maxK, std::uint64_t ids,
                  Overhead overhead, std::uint64_t decodeSymbolsPerSource)
      : name_(std::move(name)),
        ids_(ids),
        overhead_(overhead),
        decodeSymbolsPerSource_(decodeSymbolsPerSource) {
    const std::uint64_t blocks = (symbols + maxK - 1) / maxK;
    for (std::uint64_t b = 0; b < blocks; ++b) {
      sizes_.push_back(symbols / blocks + (b < symbols % blocks ? 1 : 0));
    }
    need_.resize(blocks);
    held_.resize(blocks);
  }

  std::string Name() const override { return name_; }
  std::uint64_t BlockSymbols() const override { return sizes_.front(); }
  std::uint64_t DecodeBytes() const override {
    return decodeSymbolsPerSource_ * BlockSymbols() * kSymbol;
  }

  std::optional<std::uint64_t> SentUntilDecoded(LossChannel& channel, Random& random) override {
    for (std::size_t b = 0; b < sizes_.size(); ++b) need_[b] = sizes_[b] + Extra(random);
    std::fill(held_.begin(), held_.end(), 0);
    std::size_t waiting = sizes_.size();
    std::uint64_t sent = 0;
    for (std::uint64_t c = 0; ids_ == 0 || c < ids_; ++c) {
      for (std::size_t b = 0; b < sizes_.size(); ++b) {
        ++sent;
        if (channel.Lost()) continue;
        if (++held_[b] == need_[b] && --waiting == 0) return sent;
      }
    }
    return std::nullopt;
  }

 private:
  std::uint64_t Extra(Random& random) const {
    if (overhead_ == Overhead::kNone) return 0;
    const std::uint64_t draw = random.Next();
    std::uint64_t extra = 0;
    for (double fail = 1e-2; draw < Random::Threshold(fail); fail *= 1e-2) ++extra;
    return extra;
  }

  const std::string name_;
  const std::uint64_t ids_;
  const Overhead overhead_;
  const std::uint64_t decodeSymbolsPerSource_;
  std::vector<std::uint64_t> sizes_;
  std::vector<std::uint64_t> need_;
  std::vector<std::uint64_t> held_;
};

// The engine's code in the engine's order: per-block Reed-Solomon over GF(2^8), turn 0 the
// source, each repair turn 8 own symbols per block then the group symbols, in the sweeps and
// windows of CarouselTransfer (descriptors, a few dozen bytes each, left out). Two
// approximations, both in the code's favour: a repair turn's ids count as fresh even once they
// wrap round to the source ids (turn 2 on, which two planned rounds rarely reach), and a group
// decodes as soon as the group symbols it holds are at least its blocks' shortfall (source
// symbols missing after their own repair symbols), as if its joint system never fell short.
class GroupedCode final : public CodeModel {
 public:
  GroupedCode(std::string name, std::uint64_t symbols, std::uint32_t groupBlocks,
              std::uint32_t turns)
      : name_(std::move(name)),
        layout_(*FileLayout::Make(symbols * kSymbol, kSymbol, kK, kMaxSymbolsPerBlock,
                                  groupBlocks)) {
    for (std::uint32_t turn = 0; turn < turns; ++turn) AddTurn(turn);
    own_.resize(layout_.BlockCount());
    held_.resize(layout_.GroupCount());
    shortfall_.resize(layout_.GroupCount());
    solved_.resize(layout_.GroupCount());
  }

  std::string Name() const override { return name_; }
  std::uint64_t BlockSymbols() const override { return layout_.K(); }
  // The group's blocks, which its joint system reads at once.
  std::uint64_t DecodeBytes() const override {
    return std::uint64_t{layout_.GroupBlocks()} * layout_.K() * kSymbol;
  }

  std::optional<std::uint64_t> SentUntilDecoded(LossChannel& channel, Random&) override {
    std::fill(own_.begin(), own_.end(), 0);
    std::fill(held_.begin(), held_.end(), 0);
    std::fill(solved_.begin(), solved_.end(), false);
    for (std::uint32_t g = 0; g < layout_.GroupCount(); ++g) {
      shortfall_[g] = 0;
      const std::uint32_t first = layout_.GroupFirstBlock(g);
      for (std::uint32_t b = first; b < first + layout_.GroupSize(g); ++b) {
        shortfall_[g] += layout_.SourceSymbols(b);
      }
    }
    std::uint32_t waiting = layout_.GroupCount();
    for (std::uint64_t t = 0; t < order_.size(); ++t) {
      if (channel.Lost()) continue;
      const std::uint32_t target = order_[t];
      std::uint32_t group = 0;
      if (target & kGroupFlag) {
        group = target & ~kGroupFlag;
        ++held_[group];
      } else {
        group = layout_.GroupOf(target);
        if (++own_[target] <= layout_.SourceSymbols(target)) --shortfall_[group];
      }
      if (!solved_[group] && shortfall_[group] <= held_[group]) {
        solved_[group] = true;
        if (--waiting == 0) return t + 1;
      }
    }
    return std::nullopt;
  }

 private:
  static constexpr std::uint32_t kK = 127;  // the engine's k for two planned rounds
  static constexpr std::uint32_t kGroupFlag = 1u << 31;

  void AddTurn(std::uint32_t turn) {
    const std::uint32_t k = layout_.K();
    const std::uint32_t window = std::max<std::uint32_t>(
        1, static_cast<std::uint32_t>(CarouselWindow::kWindowBytes / (kSymbol * k)));
    const std::uint32_t own = turn == 0 ? k : std::min(k, CarouselWindow::kOwnPositions);
    for (std::uint32_t from = 0; from < own; from = CarouselWindow::SweepEnd(from, own)) {
      const std::uint32_t to = CarouselWindow::SweepEnd(from, own);
      for (std::uint32_t first = 0; first < layout_.BlockCount(); first += window) {
        const std::uint32_t last = std::min(layout_.BlockCount(), first + window);
        for (std::uint32_t j = from; j < to; ++j) {
          for (std::uint32_t b = first; b < last; ++b) {
            if (j < layout_.SourceSymbols(b)) order_.push_back(b);
          }
        }
      }
    }
    if (turn == 0) return;
    const std::uint32_t groups = std::max<std::uint32_t>(1, window / layout_.GroupBlocks());
    const std::uint32_t total = CarouselWindow::GroupSymbols(layout_.GroupBlocks(), k);
    for (std::uint32_t from = 0; from < total; from = CarouselWindow::GroupSweepEnd(from, total)) {
      const std::uint32_t to = CarouselWindow::GroupSweepEnd(from, total);
      for (std::uint32_t first = 0; first < layout_.GroupCount(); first += groups) {
        const std::uint32_t last = std::min(layout_.GroupCount(), first + groups);
        for (std::uint32_t s = from; s < to; ++s) {
          for (std::uint32_t g = first; g < last; ++g) {
            const std::uint32_t kb = layout_.SourceSymbols(layout_.GroupFirstBlock(g));
            if (s < CarouselWindow::GroupSymbols(layout_.GroupSize(g), kb)) {
              order_.push_back(g | kGroupFlag);
            }
          }
        }
      }
    }
  }

  const std::string name_;
  const FileLayout layout_;
  std::vector<std::uint32_t> order_;  // a block, or a group with kGroupFlag, per symbol sent
  std::vector<std::uint32_t> own_;    // distinct own symbols held, per block
  std::vector<std::uint32_t> held_;   // group symbols held, per group
  std::vector<std::uint64_t> shortfall_;
  std::vector<bool> solved_;
};

struct Case {
  std::uint64_t fileBytes = 0;
  int receivers = 0;
  LossModel loss;
  int trials = 0;
};

struct Outcome {
  double mean = 0;
  double worst = 0;
  int unfinished = 0;  // trials in which a receiver ran out of fresh symbols
};

std::uint64_t Symbols(std::uint64_t fileBytes) { return (fileBytes + kSymbol - 1) / kSymbol; }

std::uint64_t Seed(const Case& c, int trial, int receiver) {
  std::uint64_t state = c.fileBytes;
  state ^= SplitMix(state) + static_cast<std::uint64_t>(c.receivers);
  state ^= SplitMix(state) + static_cast<std::uint64_t>(std::llround(c.loss.mean * 1e6));
  state ^= SplitMix(state) + static_cast<std::uint64_t>(std::llround(c.loss.burst * 1e3));
  state ^= SplitMix(state) + static_cast<std::uint64_t>(trial);
  state ^= SplitMix(state) + static_cast<std::uint64_t>(receiver);
  return SplitMix(state);
}

Outcome Simulate(CodeModel& code, const Case& c) {
  const double symbols = static_cast<double>(Symbols(c.fileBytes));
  Outcome outcome;
  double sum = 0;
  int finished = 0;
  for (int trial = 0; trial < c.trials; ++trial) {
    std::uint64_t slowest = 0;
    bool done = true;
    for (int r = 0; r < c.receivers && done; ++r) {
      const std::uint64_t seed = Seed(c, trial, r);
      LossChannel channel(c.loss, seed);
      Random chance(~seed);
      const std::optional<std::uint64_t> sent = code.SentUntilDecoded(channel, chance);
      if (sent) {
        slowest = std::max(slowest, *sent);
      } else {
        done = false;
      }
    }
    if (!done) {
      ++outcome.unfinished;
      continue;
    }
    const double factor = static_cast<double>(slowest) / symbols * kHeaderFactor;
    sum += factor;
    ++finished;
    outcome.worst = std::max(outcome.worst, factor);
  }
  outcome.mean = finished > 0 ? sum / finished : 0;
  return outcome;
}

// The expected slowest of R receivers to collect S symbols under independent loss p, in the
// normal approximation of the negative binomial: S/(1-p) + E[max of R normals] sqrt(Sp)/(1-p).
double ClosedFormLimit(const Case& c) {
  static constexpr double kExpectedMaxOfNormals[] = {0,      0,      0.5642, 0.8463, 1.0294, 1.1630,
                                                     1.2672, 1.3522, 1.4236, 1.4850, 1.5388};
  const double s = static_cast<double>(Symbols(c.fileBytes));
  const double p = c.loss.mean;
  const double sent = (s + kExpectedMaxOfNormals[c.receivers] * std::sqrt(s * p)) / (1 - p);
  return sent / s * kHeaderFactor;
}

std::string Bytes(std::uint64_t bytes) {
  char text[32];
  if (bytes == 0) return "-";
  if (bytes >= 1000 * kMiB && bytes % (1024 * kMiB) == 0) {
    std::snprintf(text, sizeof text, "%llu GiB", static_cast<unsigned long long>(bytes >> 30));
  } else if (bytes >= kMiB) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / kMiB);
  } else {
    std::snprintf(text, sizeof text, "%.0f KiB", static_cast<double>(bytes) / 1024);
  }
  return text;
}

std::vector<std::unique_ptr<CodeModel>> Codes(std::uint64_t symbols) {
  std::vector<std::unique_ptr<CodeModel>> codes;
  codes.push_back(std::make_unique<GroupedCode>("grouped RS g4", symbols, 4, 4));
  codes.push_back(std::make_unique<GroupedCode>("grouped RS g8", symbols, 8, 4));
  for (const std::uint64_t k : {1024, 4096, 16384, 32768}) {
    // An FFT decoder works on the source and first repair coset at once: 2K symbols.
    codes.push_back(
        std::make_unique<InterleavedCode>("RS16", symbols, k, 65536, Overhead::kNone, 2));
  }
  codes.push_back(
      std::make_unique<InterleavedCode>("fountain", symbols, 56403, 0, Overhead::kFountain, 1));
  return codes;
}

void PrintTable(bool quick) {
  const LossModel losses[] = {{0, 1}, {0.05, 1}, {0.20, 1}, {0.20, 8}};
  std::printf("%-14s %6s %4s %8s %7s %6s %7s %7s %7s %7s %4s %10s\n", "code", "K", "R", "loss",
              "size", "trials", "mean", "worst", "limit", "closed", "unf", "mem/block");
  for (const std::uint64_t fileBytes : {128 * kMiB, 2048 * kMiB}) {
    const std::uint64_t symbols = Symbols(fileBytes);
    std::vector<std::unique_ptr<CodeModel>> codes = Codes(symbols);
    InterleavedCode ideal("ideal", symbols, symbols, 0, Overhead::kNone, 0);
    for (const int receivers : {3, 10}) {
      for (const LossModel& loss : losses) {
        const int full = fileBytes <= 128 * kMiB ? 96 : 6;
        const Case c{fileBytes, receivers, loss, quick ? std::max(2, full / 6) : full};
        const Outcome limit = Simulate(ideal, c);
        const std::string closed =
            loss.Bursty() ? std::string("-") : std::to_string(ClosedFormLimit(c)).substr(0, 5);
        for (const std::unique_ptr<CodeModel>& code : codes) {
          const Outcome o = Simulate(*code, c);
          std::printf("%-14s %6llu %4d %8s %7s %6d %7.3f %7.3f %7.3f %7s %4d %10s\n",
                      code->Name().c_str(), static_cast<unsigned long long>(code->BlockSymbols()),
                      receivers, loss.Name().c_str(), Bytes(fileBytes).c_str(), c.trials, o.mean,
                      o.worst, limit.mean, closed.c_str(), o.unfinished,
                      Bytes(code->DecodeBytes()).c_str());
        }
        std::fflush(stdout);
      }
    }
  }
}

// GF(2^16) with the polynomial x^16 + x^5 + x^3 + x^2 + 1, as a table-driven multiply-add of a
// constant times a buffer, in two forms: scalar (two 256-entry tables of products, by the low
// and the high byte) and AVX2 (eight 16-entry nibble tables applied with a byte shuffle, on
// 64-byte chunks holding 32 low bytes then 32 high bytes). Only to measure the rate.
class Gf16MultiplyAdd {
 public:
  explicit Gf16MultiplyAdd(std::uint16_t c) {
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
  }

  static std::uint16_t Multiply(std::uint16_t a, std::uint16_t b) {
    std::uint32_t product = 0;
    std::uint32_t shifted = a;
    for (int bit = 0; bit < 16; ++bit) {
      if (b & (1u << bit)) product ^= shifted;
      shifted <<= 1;
      if (shifted & 0x10000) shifted ^= 0x1002d;
    }
    return static_cast<std::uint16_t>(product);
  }

  // dest ^= c * src, |count| elements.
  void Scalar(const std::uint16_t* src, std::uint16_t* dest, std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
      dest[i] ^= static_cast<std::uint16_t>(low_[src[i] & 0xff] ^ high_[src[i] >> 8]);
    }
  }

  // The same on |bytes| (a multiple of 64) in the chunked layout.
  __attribute__((target("avx2"))) void Avx2(const std::uint8_t* src, std::uint8_t* dest,
                                            std::size_t bytes) const {
    __m256i tables[4][2];
    for (int n = 0; n < 4; ++n) {
      for (int h = 0; h < 2; ++h) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nibbles_[n][h]));
        tables[n][h] = _mm256_broadcastsi128_si256(t);
      }
    }
    const __m256i mask = _mm256_set1_epi8(0x0f);
    for (std::size_t i = 0; i < bytes; i += 64) {
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
      const __m256i n[4] = {_mm256_and_si256(lo, mask),
                            _mm256_and_si256(_mm256_srli_epi64(lo, 4), mask),
                            _mm256_and_si256(hi, mask),
                            _mm256_and_si256(_mm256_srli_epi64(hi, 4), mask)};
      __m256i outLo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i));
      __m256i outHi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dest + i + 32));
      for (int k = 0; k < 4; ++k) {
        outLo = _mm256_xor_si256(outLo, _mm256_shuffle_epi8(tables[k][0], n[k]));
        outHi = _mm256_xor_si256(outHi, _mm256_shuffle_epi8(tables[k][1], n[k]));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i), outLo);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 32), outHi);
    }
  }

 private:
  std::array<std::uint16_t, 256> low_{};
  std::array<std::uint16_t, 256> high_{};
  std::uint8_t nibbles_[4][2][16] = {};
};

// Bytes per second of |run| over |bytes|, repeated for about a third of a second.
template <typename Run>
double Rate(std::size_t bytes, Run run) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::uint64_t done = 0;
  while (Clock::now() - start < std::chrono::milliseconds(300)) {
    for (int i = 0; i < 16; ++i) run();
    done += 16 * bytes;
  }
  return static_cast<double>(done) / std::chrono::duration<double>(Clock::now() - start).count();
}

// Multiply-adds of symbol-sized buffers (1408 bytes: 1400 rounded to whole 64-byte chunks)
// over a working set of 64 symbols, as one butterfly layer of a transform touches them.
bool MeasureGf16() {
  constexpr std::size_t kBytes = 64 * 1408;
  std::vector<std::uint8_t> src(kBytes);
  std::vector<std::uint8_t> dest(kBytes);
  Random random(16);
  for (std::uint8_t& byte : src) byte = static_cast<std::uint8_t>(random.Next());
  const Gf16MultiplyAdd code(0x9a3c);

  // The two forms agree (elements of the chunked layout read back as 16-bit values).
  std::vector<std::uint8_t> viaAvx(kBytes, 0);
  code.Avx2(src.data(), viaAvx.data(), kBytes);
  for (std::size_t i = 0; i < kBytes; i += 64) {
    for (std::size_t j = 0; j < 32; ++j) {
      const auto x = static_cast<std::uint16_t>(src[i + j] | src[i + j + 32] << 8);
      const std::uint16_t y = Gf16MultiplyAdd::Multiply(0x9a3c, x);
      if (viaAvx[i + j] != (y & 0xff) || viaAvx[i + j + 32] != (y >> 8)) {
        std::fprintf(stderr, "GF(2^16) AVX2 multiply-add disagrees at byte %zu\n", i + j);
        return false;
      }
    }
  }
  const double scalar = Rate(kBytes, [&] {
    code.Scalar(reinterpret_cast<const std::uint16_t*>(src.data()),
                reinterpret_cast<std::uint16_t*>(dest.data()), kBytes / 2);
  });
  const double avx2 = Rate(kBytes, [&] { code.Avx2(src.data(), dest.data(), kBytes); });
  std::printf("\nGF(2^16) multiply-add, one core, 90 KiB in cache: scalar tables %.2f GB/s, "
              "AVX2 nibble shuffles %.2f GB/s (checksum %u)\n",
              scalar / 1e9, avx2 / 1e9, static_cast<unsigned>(dest[7]));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  if (argc > 2 || (argc == 2 && !quick)) {
    std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
    return 2;
  }
  std::printf("Completion factor: symbols sent until the slowest receiver can decode, over the "
              "file's symbols, times %.4f (header).\nlimit: the same with an ideal code; closed: "
              "its normal approximation. unf: trials where a receiver ran out of fresh symbols.\n\n",
              kHeaderFactor);
  PrintTable(quick);
  if (!__builtin_cpu_supports("avx2")) {
    std::printf("\nno AVX2 on this processor: GF(2^16) rate not measured\n");
    return 0;
  }
  return MeasureGf16() ? 0 : 1;
}
