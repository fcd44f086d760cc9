// The simulation's models against what they must reproduce: the ideal code against the closed
// form, the bursty channel's rate and burst length, the fountain's failure figures, the engine's
// send order at no loss, and the finishing schedule (the GF(2^16)
// arithmetic is tested with the wide code, in tests/fcast/code).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bench/fcast/CodeSimulation.h"

namespace ondavox::fcast::simulation {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(CodeSimulationTest, IdealCodeMatchesTheClosedForm) {
  for (const int receivers : {3, 10}) {
    const Case c{32 * kMiB, receivers, {0.2, 1}, 40};
    const std::uint64_t symbols = Symbols(c.fileBytes);
    InterleavedCode ideal("ideal", symbols, {symbols, 0, Overhead::kNone, DecodeMemory::kNone});
    const Outcome outcome = Simulate(ideal, c);
    EXPECT_EQ(outcome.unfinished, 0);
    EXPECT_NEAR(outcome.mean, ClosedFormLimit(c), 0.002) << receivers << " receivers";
  }
}

TEST(CodeSimulationTest, BurstyChannelKeepsItsMeanAndBurstLength) {
  LossChannel channel({0.2, 8}, 7);
  int lost = 0;
  int bursts = 0;
  bool previous = false;
  constexpr int kDatagrams = 2'000'000;
  for (int i = 0; i < kDatagrams; ++i) {
    const bool now = channel.Lost();
    lost += now;
    bursts += now && !previous;
    previous = now;
  }
  EXPECT_NEAR(static_cast<double>(lost) / kDatagrams, 0.2, 0.005);
  EXPECT_NEAR(static_cast<double>(lost) / bursts, 8, 0.25);
}

TEST(CodeSimulationTest, FountainNeedsExtraSymbolsAtThePublishedRates) {
  InterleavedCode fountain("fountain", 10, {10, 0, Overhead::kFountain, DecodeMemory::kBlock});
  LossChannel none({0, 1}, 1);
  Random chance(2);
  int oneOrMore = 0;
  int twoOrMore = 0;
  constexpr int kBlocks = 400'000;
  for (int i = 0; i < kBlocks; ++i) {
    const std::uint64_t extra = fountain.Receive(none, chance)->decodable - 10;
    oneOrMore += extra >= 1;
    twoOrMore += extra >= 2;
  }
  EXPECT_NEAR(static_cast<double>(oneOrMore) / kBlocks, 1e-2, 1e-3);
  EXPECT_GT(twoOrMore, 10);  // about 40
  EXPECT_LT(twoOrMore, 90);
}

TEST(CodeSimulationTest, GroupedCodeDecodesAfterItsSourceAtNoLossAndNeverWithoutSymbols) {
  const std::uint64_t symbols = Symbols(8 * kMiB);
  GroupedCode code("grouped", symbols, 4, 2);
  Random chance(3);
  LossChannel none({0, 1}, 4);
  EXPECT_EQ(code.Receive(none, chance)->decodable, symbols);
  LossChannel all({1, 1}, 5);
  EXPECT_FALSE(code.Receive(all, chance).has_value());
}

TEST(CodeSimulationTest, InterleavedCodeStopsWhenItsIdsRunOut) {
  // 10 blocks of 10 source symbols and 20 ids each.
  InterleavedCode code("short", 100, {10, 20, Overhead::kNone, DecodeMemory::kTransform});
  Random chance(6);
  LossChannel none({0, 1}, 7);
  EXPECT_EQ(code.Receive(none, chance)->decodable, 100u);
  LossChannel heavy({0.9, 1}, 8);
  EXPECT_FALSE(code.Receive(heavy, chance).has_value());
}

// One symbol time per second; a block of 10 symbols takes 50 to decode and 10 to hash.
Finishing TestFinishing(int cores) {
  return Finishing{1, 10.0 * kSymbol / 50, 10.0 * kSymbol / 10, cores};
}

TEST(CodeSimulationTest, FinishingDecodesOnEveryCoreAndHashesInFileOrder) {
  // Both blocks decode at once from 100 to 150; the hash takes block 0, then block 1.
  EXPECT_DOUBLE_EQ(TestFinishing(2).ReadyAt({10, 10}, {100, 100}, {1, 1}, false), 170);
  // One core: decode, hash, decode, hash.
  EXPECT_DOUBLE_EQ(TestFinishing(1).ReadyAt({10, 10}, {100, 100}, {1, 1}, false), 220);
  // A whole block needs no decoding; block 1, whole, waits for block 0's hash.
  EXPECT_DOUBLE_EQ(TestFinishing(2).ReadyAt({10, 10}, {100, 105}, {1, 0}, false), 170);
  // With symbol digests, only the rebuilt symbols are hashed at the end, in any order.
  EXPECT_DOUBLE_EQ(TestFinishing(2).ReadyAt({10, 10}, {100, 105}, {1, 0}, true), 151);
}

}  // namespace
}  // namespace ondavox::fcast::simulation
