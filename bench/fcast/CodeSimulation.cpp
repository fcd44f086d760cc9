#include "bench/fcast/CodeSimulation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numeric>


namespace ondavox::fcast::simulation {
namespace {

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t Seed(const Case& c, int trial, int receiver) {
  std::uint64_t state = c.fileBytes;
  for (const std::uint64_t value :
       {static_cast<std::uint64_t>(c.receivers), static_cast<std::uint64_t>(c.loss.mean * 1e6),
        static_cast<std::uint64_t>(c.loss.burst * 1e3), static_cast<std::uint64_t>(trial),
        static_cast<std::uint64_t>(receiver)}) {
    state ^= SplitMix(state) + value;
  }
  return SplitMix(state);
}

}  // namespace

Random::Random(std::uint64_t seed) {
  for (std::uint64_t& word : state_) word = SplitMix(seed);
}

std::uint64_t Random::Next() {
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

std::uint64_t Random::Threshold(double probability) {
  if (probability >= 1) return ~std::uint64_t{0};
  return static_cast<std::uint64_t>(std::ldexp(probability, 64));
}

std::string LossModel::Name() const {
  char text[32];
  if (Bursty()) {
    std::snprintf(text, sizeof text, "%g%%/b%g", mean * 100, burst);
  } else {
    std::snprintf(text, sizeof text, "%g%%", mean * 100);
  }
  return text;
}

// The bad state lasts |burst| datagrams on average; the good state is entered from it and left
// at the rate that makes the bad state's share of the time the mean loss. The first datagram's
// state is drawn from that share.
LossChannel::LossChannel(const LossModel& model, std::uint64_t seed)
    : random_(seed),
      bursty_(model.Bursty()),
      lose_(Random::Threshold(model.mean)),
      stayBad_(bursty_ ? Random::Threshold(1 - 1 / model.burst) : 0),
      enterBad_(bursty_ ? Random::Threshold(model.mean / (model.burst * (1 - model.mean))) : 0),
      bad_(bursty_ && random_.Below(lose_)) {}

double Finishing::ReadyAt(const std::vector<std::uint64_t>& sizes,
                          const std::vector<std::uint64_t>& decodable,
                          const std::vector<std::uint64_t>& missing, bool symbolDigests) const {
  const auto duration = [this](std::uint64_t symbols, double rate) {
    return static_cast<double>(symbols * kSymbol) / rate * symbolsPerSecond;
  };
  std::vector<std::size_t> byTime(sizes.size());
  std::iota(byTime.begin(), byTime.end(), 0);
  std::stable_sort(byTime.begin(), byTime.end(),
                   [&](std::size_t a, std::size_t b) { return decodable[a] < decodable[b]; });
  // Decoding, and with symbol digests the rebuilt symbols' digests, block by block as they come.
  std::vector<double> decoded(sizes.size(), -1);
  std::vector<double> freeAt(static_cast<std::size_t>(std::max(cores, 1)), 0);
  std::size_t nextDecode = 0;
  std::size_t nextHash = 0;
  double hashed = 0;
  while (symbolDigests ? nextDecode < byTime.size() : nextHash < sizes.size()) {
    auto core = std::min_element(freeAt.begin(), freeAt.end());
    const bool hashReady = !symbolDigests && decoded[nextHash] >= 0;
    const double hashStart = hashReady ? std::max({decoded[nextHash], hashed, *core}) : 0;
    if (nextDecode < byTime.size()) {
      const std::size_t b = byTime[nextDecode];
      const double start = std::max(static_cast<double>(decodable[b]), *core);
      if (!hashReady || start < hashStart) {
        double work = missing[b] > 0 ? duration(sizes[b], decodeBytesPerSecond) : 0;
        if (symbolDigests) work += duration(missing[b], hashBytesPerSecond);
        decoded[b] = start + work;
        *core = decoded[b];
        hashed = std::max(hashed, decoded[b]);
        ++nextDecode;
        continue;
      }
    }
    hashed = hashStart + duration(sizes[nextHash], hashBytesPerSecond);
    *core = hashed;
    ++nextHash;
  }
  return hashed;
}

InterleavedCode::InterleavedCode(std::string name, std::uint64_t symbols, const Shape& shape,
                                 std::optional<Finishing> finishing)
    : name_(std::move(name)), shape_(shape), finishing_(finishing) {
  const std::uint64_t blocks = (symbols + shape.maxK - 1) / shape.maxK;
  for (std::uint64_t b = 0; b < blocks; ++b) {
    sizes_.push_back(symbols / blocks + (b < symbols % blocks ? 1 : 0));
  }
  need_.resize(blocks);
  held_.resize(blocks);
  decodable_.resize(blocks);
  missing_.resize(blocks);
}

std::uint64_t InterleavedCode::DecodeBytes() const {
  switch (shape_.memory) {
    case DecodeMemory::kNone:
      return 0;
    case DecodeMemory::kBlock:
      return BlockSymbols() * kSymbol;
    case DecodeMemory::kTransform:
      return std::bit_ceil(2 * BlockSymbols()) * kSymbol;
  }
  return 0;
}

std::optional<Reception> InterleavedCode::Receive(LossChannel& channel, Random& random) {
  for (std::size_t b = 0; b < sizes_.size(); ++b) need_[b] = sizes_[b] + Extra(random);
  std::fill(held_.begin(), held_.end(), 0);
  missing_ = sizes_;
  std::size_t waiting = sizes_.size();
  std::uint64_t sent = 0;
  for (std::uint64_t c = 0; shape_.ids == 0 || c < shape_.ids; ++c) {
    for (std::size_t b = 0; b < sizes_.size(); ++b) {
      ++sent;
      if (channel.Lost()) continue;
      if (c < sizes_[b]) --missing_[b];
      if (++held_[b] != need_[b]) continue;
      decodable_[b] = sent;
      if (--waiting > 0) continue;
      Reception reception{sent, 0, 0};
      if (finishing_) {
        reception.ready = finishing_->ReadyAt(sizes_, decodable_, missing_, false);
        reception.readySymbolDigests = finishing_->ReadyAt(sizes_, decodable_, missing_, true);
      }
      return reception;
    }
  }
  return std::nullopt;
}

std::uint64_t InterleavedCode::Extra(Random& random) const {
  if (shape_.overhead == Overhead::kNone) return 0;
  const std::uint64_t draw = random.Next();
  std::uint64_t extra = 0;
  for (double fail = 1e-2; draw < Random::Threshold(fail); fail *= 1e-2) ++extra;
  return extra;
}

GroupedCode::GroupedCode(std::string name, std::uint64_t symbols, std::uint32_t groupBlocks,
                         std::uint32_t turns)
    : name_(std::move(name)),
      layout_(symbols, groupBlocks) {
  for (std::uint32_t turn = 0; turn < turns; ++turn) AddTurn(turn);
  own_.resize(layout_.BlockCount());
  held_.resize(layout_.GroupCount());
  solved_.resize(layout_.GroupCount());
  initialShortfall_.resize(layout_.GroupCount());
  for (std::uint32_t g = 0; g < layout_.GroupCount(); ++g) {
    const std::uint32_t first = layout_.GroupFirstBlock(g);
    for (std::uint32_t b = first; b < first + layout_.GroupSize(g); ++b) {
      initialShortfall_[g] += layout_.SourceSymbols(b);
    }
  }
}

GroupedCode::Layout::Layout(std::uint64_t symbols, std::uint32_t groupBlocks)
    : blocks_(static_cast<std::uint32_t>((symbols + kK - 1) / kK)), groupBlocks_(groupBlocks) {
  if (blocks_ == 0) return;
  shortBlock_ = static_cast<std::uint32_t>(symbols / blocks_);
  longBlocks_ = static_cast<std::uint32_t>(symbols % blocks_);
  longGroups_ = (longBlocks_ + groupBlocks - 1) / groupBlocks;
  shortGroups_ = (blocks_ - longBlocks_ + groupBlocks - 1) / groupBlocks;
}

std::uint32_t GroupedCode::Layout::SourceSymbols(std::uint32_t block) const {
  return shortBlock_ + (block < longBlocks_ ? 1 : 0);
}

std::uint32_t GroupedCode::Layout::GroupOf(std::uint32_t block) const {
  if (block < longBlocks_) return block / groupBlocks_;
  return longGroups_ + (block - longBlocks_) / groupBlocks_;
}

std::uint32_t GroupedCode::Layout::GroupFirstBlock(std::uint32_t group) const {
  if (group < longGroups_) return group * groupBlocks_;
  return std::min(blocks_, longBlocks_ + (group - longGroups_) * groupBlocks_);
}

std::uint32_t GroupedCode::Layout::GroupSize(std::uint32_t group) const {
  if (group >= GroupCount()) return 0;
  const std::uint32_t end = group < longGroups_ ? longBlocks_ : blocks_;
  return std::min(groupBlocks_, end - GroupFirstBlock(group));
}

std::uint32_t GroupedCode::SweepEnd(std::uint32_t from, std::uint32_t k) {
  return std::min(k, from + std::max<std::uint32_t>(4, from / 8));
}

std::uint32_t GroupedCode::GroupSweepEnd(std::uint32_t from, std::uint32_t total) {
  return std::min(total, from + std::max<std::uint32_t>(4, from / 4));
}

std::uint32_t GroupedCode::GroupSymbols(std::uint32_t blocks, std::uint32_t k) {
  return k > kOwnPositions ? blocks * (k - kOwnPositions) : 0;
}

std::uint64_t GroupedCode::DecodeBytes() const {
  return std::uint64_t{layout_.GroupBlocks()} * layout_.K() * kSymbol;
}

std::optional<Reception> GroupedCode::Receive(LossChannel& channel, Random&) {
  std::fill(own_.begin(), own_.end(), 0);
  std::fill(held_.begin(), held_.end(), 0);
  std::fill(solved_.begin(), solved_.end(), false);
  shortfall_ = initialShortfall_;
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
      if (--waiting == 0) return Reception{t + 1, 0, 0};
    }
  }
  return std::nullopt;
}

void GroupedCode::AddTurn(std::uint32_t turn) {
  const std::uint32_t k = layout_.K();
  const std::uint32_t window = std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(kWindowBytes / (kSymbol * k)));
  const std::uint32_t own = turn == 0 ? k : std::min(k, kOwnPositions);
  for (std::uint32_t from = 0; from < own; from = SweepEnd(from, own)) {
    const std::uint32_t to = SweepEnd(from, own);
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
  const std::uint32_t total = GroupSymbols(layout_.GroupBlocks(), k);
  for (std::uint32_t from = 0; from < total; from = GroupSweepEnd(from, total)) {
    const std::uint32_t to = GroupSweepEnd(from, total);
    for (std::uint32_t first = 0; first < layout_.GroupCount(); first += groups) {
      const std::uint32_t last = std::min(layout_.GroupCount(), first + groups);
      for (std::uint32_t s = from; s < to; ++s) {
        for (std::uint32_t g = first; g < last; ++g) {
          const std::uint32_t kb = layout_.SourceSymbols(layout_.GroupFirstBlock(g));
          if (s < GroupSymbols(layout_.GroupSize(g), kb)) {
            order_.push_back(g | kGroupFlag);
          }
        }
      }
    }
  }
}

std::uint64_t Symbols(std::uint64_t fileBytes) { return (fileBytes + kSymbol - 1) / kSymbol; }

std::uint64_t LargestBlock(std::uint64_t symbols, std::uint64_t maxK) {
  const std::uint64_t blocks = (symbols + maxK - 1) / maxK;
  return (symbols + blocks - 1) / blocks;
}

Outcome Simulate(CodeModel& code, const Case& c) {
  const double symbols = static_cast<double>(Symbols(c.fileBytes));
  Outcome outcome;
  double sum = 0;
  double sumReady = 0;
  double sumReadySymbolDigests = 0;
  int finished = 0;
  for (int trial = 0; trial < c.trials; ++trial) {
    Reception slowest;
    bool done = true;
    for (int r = 0; r < c.receivers && done; ++r) {
      const std::uint64_t seed = Seed(c, trial, r);
      LossChannel channel(c.loss, seed);
      Random chance(~seed);
      const std::optional<Reception> reception = code.Receive(channel, chance);
      done = reception.has_value();
      if (done) {
        slowest.decodable = std::max(slowest.decodable, reception->decodable);
        slowest.ready = std::max(slowest.ready, reception->ready);
        slowest.readySymbolDigests =
            std::max(slowest.readySymbolDigests, reception->readySymbolDigests);
      }
    }
    if (!done) {
      ++outcome.unfinished;
      continue;
    }
    const double factor = static_cast<double>(slowest.decodable) / symbols * kHeaderFactor;
    const double ready = slowest.ready / symbols * kHeaderFactor;
    sum += factor;
    sumReady += ready;
    sumReadySymbolDigests += slowest.readySymbolDigests / symbols * kHeaderFactor;
    ++finished;
    outcome.worst = std::max(outcome.worst, factor);
    outcome.worstReady = std::max(outcome.worstReady, ready);
  }
  if (finished > 0) {
    outcome.mean = sum / finished;
    outcome.meanReady = sumReady / finished;
    outcome.meanReadySymbolDigests = sumReadySymbolDigests / finished;
  }
  return outcome;
}

double ClosedFormLimit(const Case& c) {
  // E[max of R standard normals], R = 0..10.
  static constexpr double kExpectedMax[] = {0,      0,      0.5642, 0.8463, 1.0294, 1.1630,
                                            1.2672, 1.3522, 1.4236, 1.4850, 1.5388};
  const double s = static_cast<double>(Symbols(c.fileBytes));
  const double p = c.loss.mean;
  const double sent =
      (s + kExpectedMax[std::clamp(c.receivers, 0, 10)] * std::sqrt(s * p)) / (1 - p);
  return sent / s * kHeaderFactor;
}

}  // namespace ondavox::fcast::simulation
