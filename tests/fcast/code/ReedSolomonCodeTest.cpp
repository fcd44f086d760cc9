#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "fcast/code/ReedSolomonCode.h"
#include "fcast/engine/Packet.h"

namespace ondavox::fcast {
namespace {

constexpr std::size_t kSize = 64;

struct Block {
  std::vector<std::vector<std::uint8_t>> source;
  std::vector<const std::uint8_t*> pointers;
};

Block RandomBlock(int k, std::mt19937& rng) {
  Block block;
  block.source.assign(k, std::vector<std::uint8_t>(kSize));
  for (auto& symbol : block.source) {
    for (auto& byte : symbol) byte = static_cast<std::uint8_t>(rng());
  }
  for (auto& symbol : block.source) block.pointers.push_back(symbol.data());
  return block;
}

std::vector<std::vector<std::uint8_t>> Repair(ReedSolomonCode& code, const Block& block,
                                              const std::vector<std::uint8_t>& ids) {
  std::vector<std::vector<std::uint8_t>> out(ids.size(), std::vector<std::uint8_t>(kSize));
  std::vector<std::uint8_t*> pointers;
  for (auto& symbol : out) pointers.push_back(symbol.data());
  code.Encode(static_cast<int>(block.source.size()), kSize, block.pointers.data(), ids,
              pointers.data());
  return out;
}

// Loses |missing| source symbols, rebuilds them from the repair symbols |ids| with a fresh
// decoder, and checks the block is restored.
void ExpectRebuilt(const Block& block, std::vector<std::uint8_t> missing,
                   const std::vector<std::uint8_t>& ids) {
  const int k = static_cast<int>(block.source.size());
  ReedSolomonCode encoder;
  const auto repair = Repair(encoder, block, ids);
  std::sort(missing.begin(), missing.end());
  std::vector<std::vector<std::uint8_t>> received = block.source;
  for (std::uint8_t m : missing) std::fill(received[m].begin(), received[m].end(), 0xEE);
  std::vector<std::uint8_t*> pointers;
  for (auto& symbol : received) pointers.push_back(symbol.data());
  std::vector<const std::uint8_t*> repairPointers;
  for (const auto& symbol : repair) repairPointers.push_back(symbol.data());
  ReedSolomonCode decoder;
  ASSERT_TRUE(decoder.Decode(k, kSize, pointers.data(), missing, ids, repairPointers.data()));
  for (int j = 0; j < k; ++j) ASSERT_EQ(received[j], block.source[j]) << "k=" << k << " j=" << j;
}

std::vector<std::uint8_t> Range(int first, int count) {
  std::vector<std::uint8_t> ids(count);
  std::iota(ids.begin(), ids.end(), static_cast<std::uint8_t>(first));
  return ids;
}

TEST(ReedSolomonCode, RebuildsEveryLossPatternThatMatters) {
  std::mt19937 rng(7);
  for (int k : {1, 2, 32, 51, 85, 127, 128}) {
    SCOPED_TRACE(k);
    const Block block = RandomBlock(k, rng);
    const int symbolIds = kMaxSymbolsPerBlock;
    const int repairSpace = symbolIds - k;
    // One symbol lost: the first, the last.
    ExpectRebuilt(block, {0}, {static_cast<std::uint8_t>(k)});
    ExpectRebuilt(block, {static_cast<std::uint8_t>(k - 1)},
                  {static_cast<std::uint8_t>(symbolIds - 1)});
    // Every source symbol lost, rebuilt from repair symbols alone (as far as the code has them).
    const int all = std::min(k, repairSpace);
    ExpectRebuilt(block, Range(0, all), Range(symbolIds - all, all));
    // Random losses with random distinct repair ids, the more repairs the better.
    for (int trial = 0; trial < 5; ++trial) {
      std::vector<std::uint8_t> order = Range(0, k);
      std::shuffle(order.begin(), order.end(), rng);
      const int lost = 1 + static_cast<int>(rng() % std::min(k, repairSpace));
      std::vector<std::uint8_t> missing(order.begin(), order.begin() + lost);
      std::vector<std::uint8_t> ids = Range(k, repairSpace);
      std::shuffle(ids.begin(), ids.end(), rng);
      ids.resize(std::min<std::size_t>(repairSpace, lost + rng() % 3));
      ExpectRebuilt(block, missing, ids);
    }
  }
}

TEST(ReedSolomonCode, RefusesTooFewRepairSymbols) {
  std::mt19937 rng(3);
  const Block block = RandomBlock(10, rng);
  ReedSolomonCode code;
  const auto repair = Repair(code, block, {10});
  std::vector<std::vector<std::uint8_t>> received = block.source;
  std::vector<std::uint8_t*> pointers;
  for (auto& symbol : received) pointers.push_back(symbol.data());
  const std::uint8_t* repairPointer = repair[0].data();
  const std::uint8_t missing[] = {2, 5};
  const std::uint8_t ids[] = {10};
  EXPECT_FALSE(code.Decode(10, kSize, pointers.data(), missing, ids, &repairPointer));
  EXPECT_TRUE(code.Decode(10, kSize, pointers.data(), {}, {}, nullptr));
}

TEST(ReedSolomonCode, CachedTablesFollowTheAskedIdsAndBlockSize) {
  // The encoder caches per k and id list; switching between them must not reuse stale tables.
  std::mt19937 rng(11);
  const Block big = RandomBlock(127, rng);
  const Block small = RandomBlock(5, rng);
  ReedSolomonCode shared;
  const auto first = Repair(shared, big, Range(127, 20));
  const auto other = Repair(shared, big, Range(200, 20));
  const auto one = Repair(shared, big, Range(130, 1));
  const auto smallRepair = Repair(shared, small, Range(5, 3));
  const auto again = Repair(shared, big, Range(127, 20));
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
  ReedSolomonCode fresh;
  EXPECT_EQ(Repair(fresh, small, Range(5, 3)), smallRepair);
  EXPECT_EQ(Repair(fresh, big, Range(200, 20)), other);
  EXPECT_EQ(Repair(fresh, big, Range(130, 1)), one);
}

TEST(ReedSolomonCode, TheFftAndTheMatrixGiveTheSameRepairSymbols) {
  // Many ids at once go through the FFT, a single id through the generator matrix: both must
  // be the same code, whatever the block size and whichever ids (scattered ones prune less).
  std::mt19937 rng(5);
  for (int k : {1, 3, 64, 85, 127, 128}) {
    SCOPED_TRACE(k);
    const Block block = RandomBlock(k, rng);
    std::vector<std::uint8_t> ids = Range(k, kMaxSymbolsPerBlock - k);
    ReedSolomonCode batch;
    const auto together = Repair(batch, block, ids);
    ReedSolomonCode single;
    for (std::size_t r = 0; r < ids.size(); ++r) {
      ASSERT_EQ(Repair(single, block, {ids[r]})[0], together[r]) << "id " << int{ids[r]};
    }
    std::shuffle(ids.begin(), ids.end(), rng);
    ids.resize(ids.size() / 3);
    const auto scattered = Repair(batch, block, ids);
    for (std::size_t r = 0; r < ids.size(); ++r) {
      ASSERT_EQ(scattered[r], together[ids[r] - k]) << "id " << int{ids[r]};
    }
  }
}

}  // namespace
}  // namespace ondavox::fcast
