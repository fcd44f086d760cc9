#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "fcast/code/GaloisTables.h"
#include "fcast/code/GroupCode.h"
#include "fcast/code/ReedSolomonCode.h"

namespace ondavox::fcast {
namespace {

constexpr std::size_t kSize = 80;

using Symbols = std::vector<std::vector<std::uint8_t>>;

Symbols RandomSymbols(int count, std::mt19937& rng) {
  Symbols symbols(count, std::vector<std::uint8_t>(kSize));
  for (auto& symbol : symbols) {
    for (auto& byte : symbol) byte = static_cast<std::uint8_t>(rng());
  }
  return symbols;
}

template <typename Pointer, typename Vectors>
std::vector<Pointer> PointersTo(Vectors& vectors) {
  std::vector<Pointer> pointers;
  for (auto& v : vectors) pointers.push_back(v.data());
  return pointers;
}

// The symbol |id| of a block, the slow way.
std::vector<std::uint8_t> BlockSymbol(const Symbols& block, std::uint8_t id) {
  static ReedSolomonCode code;
  std::vector<std::uint8_t> out(kSize);
  std::uint8_t* outPointer = out.data();
  const auto in = PointersTo<const std::uint8_t*>(block);
  code.Encode(static_cast<int>(block.size()), kSize, in.data(), {&id, 1}, &outPointer);
  return out;
}

// A group of blocks and what a receiver got of it.
struct Scenario {
  int k = 0;
  std::vector<Symbols> blocks;                       // the truth
  std::vector<Symbols> received;                     // the missing places garbled
  std::vector<std::vector<std::uint8_t>> missing;    // per block
  std::vector<std::vector<std::uint8_t>> repairIds;  // per block, fewer than missing
  std::vector<Symbols> repair;                       // per block
  std::vector<GroupCoder::GroupSymbol> group;        // data in groupData
  Symbols groupData;
  std::size_t shortfall = 0;

  // Group symbols |ids| x |combinations|, in that order, computed the slow way.
  void AddGroupSymbols(const std::vector<std::uint8_t>& ids, const std::vector<int>& combinations) {
    for (int c : combinations) {
      for (std::uint8_t id : ids) {
        std::vector<std::uint8_t> sum(kSize, 0);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
          const auto symbol = BlockSymbol(blocks[i], id);
          MultiplyAdd(kSize, GroupCoefficient(c, static_cast<int>(i)), symbol.data(), sum.data());
        }
        groupData.push_back(sum);
        group.push_back({id, static_cast<std::uint8_t>(c), nullptr});
      }
    }
  }

  bool Solve(std::vector<std::size_t>* useless) {
    std::vector<std::vector<std::uint8_t*>> places;
    std::vector<std::vector<const std::uint8_t*>> repairPlaces;
    std::vector<GroupCoder::Block> in;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      places.push_back(PointersTo<std::uint8_t*>(received[i]));
      repairPlaces.push_back(PointersTo<const std::uint8_t*>(repair[i]));
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      in.push_back({places[i].data(), missing[i], repairIds[i], repairPlaces[i].data()});
    }
    for (std::size_t s = 0; s < group.size(); ++s) group[s].data = groupData[s].data();
    GroupCoder coder;
    return coder.Solve(k, kSize, in, group, useless);
  }
};

// |blocks| blocks of |k| symbols, each losing symbols at |loss| and getting |own| repair
// symbols (ids k, k + 1, ...), capped below its losses.
Scenario MakeScenario(int k, int blocks, double loss, int own, std::mt19937& rng) {
  Scenario s;
  s.k = k;
  std::bernoulli_distribution lost(loss);
  for (int i = 0; i < blocks; ++i) {
    s.blocks.push_back(RandomSymbols(k, rng));
    s.received.push_back(s.blocks.back());
    std::vector<std::uint8_t> missing;
    for (int j = 0; j < k; ++j) {
      if (lost(rng)) missing.push_back(static_cast<std::uint8_t>(j));
    }
    std::vector<std::uint8_t> ids;
    Symbols repair;
    const int count = std::min<int>(own, std::max<int>(0, static_cast<int>(missing.size()) - 1));
    for (int r = 0; r < count; ++r) {
      ids.push_back(static_cast<std::uint8_t>(k + r));
      repair.push_back(BlockSymbol(s.blocks.back(), ids.back()));
    }
    for (std::uint8_t m : missing)
      std::fill(s.received.back()[m].begin(), s.received.back()[m].end(), 0xA5);
    s.shortfall += missing.size() - ids.size();
    s.missing.push_back(missing);
    s.repairIds.push_back(ids);
    s.repair.push_back(repair);
  }
  return s;
}

std::vector<std::uint8_t> IdsFrom(int first, std::size_t count) {
  std::vector<std::uint8_t> ids;
  for (std::size_t i = 0; i < count; ++i)
    ids.push_back(static_cast<std::uint8_t>((first + i) % 255));
  return ids;
}

TEST(GroupCoder, GroupSymbolsAreTheWeightedSumsOfTheBlocksSymbols) {
  std::mt19937 rng(3);
  for (int k : {1, 5, 127}) {
    std::vector<Symbols> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(RandomSymbols(k, rng));
    Scenario expected;
    expected.blocks = blocks;
    // A source id, fresh repair ids and the last id; two combinations.
    const std::vector<std::uint8_t> ids = {0, static_cast<std::uint8_t>(k), 200, 254};
    expected.AddGroupSymbols(ids, {0, 7});
    std::vector<std::vector<const std::uint8_t*>> in;
    for (auto& block : blocks) in.push_back(PointersTo<const std::uint8_t*>(block));
    std::vector<const std::uint8_t* const*> blockPointers;
    for (auto& p : in) blockPointers.push_back(p.data());
    Symbols out(expected.group.size(), std::vector<std::uint8_t>(kSize));
    auto outPointers = PointersTo<std::uint8_t*>(out);
    GroupCoder coder;
    coder.Encode(k, kSize, blockPointers, expected.group, outPointers.data());
    for (std::size_t s = 0; s < out.size(); ++s) {
      EXPECT_EQ(out[s], expected.groupData[s]) << "k=" << k << " symbol " << s;
    }
  }
}

TEST(GroupCoder, PoolsGroupSymbolsOverTheBlocksShortfall) {
  std::mt19937 rng(11);
  int solvedAtShortfall = 0;
  constexpr int kTrials = 40;
  for (int trial = 0; trial < kTrials; ++trial) {
    const int k = trial % 2 == 0 ? 127 : 32;
    Scenario s = MakeScenario(k, 4, trial % 4 < 2 ? 0.2 : 0.05, 8, rng);
    if (s.shortfall == 0) continue;
    // Fresh ids after the own repair ids, first one combination over them all, then another.
    const std::size_t perCombination = (s.shortfall + 1) / 2 + 1;
    std::vector<std::uint8_t> ids = IdsFrom(k + 8, perCombination);
    s.AddGroupSymbols(ids, {trial % 5, 100 + trial});
    s.group.resize(s.shortfall);
    s.groupData.resize(s.shortfall);
    std::vector<std::size_t> useless;
    if (s.Solve(&useless)) {
      ++solvedAtShortfall;
    } else {
      // Rarely the system falls short by a symbol: one more fixes it.
      ASSERT_FALSE(useless.empty());
      s.AddGroupSymbols({static_cast<std::uint8_t>(k + 8 + perCombination)}, {trial % 5});
      for (auto it = useless.rbegin(); it != useless.rend(); ++it) {
        s.group.erase(s.group.begin() + static_cast<std::ptrdiff_t>(*it));
        s.groupData.erase(s.groupData.begin() + static_cast<std::ptrdiff_t>(*it));
      }
      s.AddGroupSymbols(IdsFrom(k + 9 + static_cast<int>(perCombination), useless.size()),
                        {trial % 5});
      ASSERT_TRUE(s.Solve(&useless)) << "trial " << trial;
    }
    for (std::size_t i = 0; i < s.blocks.size(); ++i) {
      ASSERT_EQ(s.received[i], s.blocks[i]) << "trial " << trial << " block " << i;
    }
  }
  EXPECT_GE(solvedAtShortfall, kTrials * 9 / 10);
  RecordProperty("solvedAtShortfall", solvedAtShortfall);
}

TEST(GroupCoder, OneShortBlockTakesEveryGroupSymbolOfOneCombination) {
  std::mt19937 rng(5);
  Scenario s = MakeScenario(64, 4, 0.0, 0, rng);
  // Block 2 lost 6 symbols and got 2 of its own repair symbols; the others are whole.
  s.missing[2] = {0, 9, 10, 33, 50, 63};
  s.repairIds[2] = {64, 65};
  s.repair[2] = {BlockSymbol(s.blocks[2], 64), BlockSymbol(s.blocks[2], 65)};
  for (std::uint8_t m : s.missing[2])
    std::fill(s.received[2][m].begin(), s.received[2][m].end(), 0);
  s.AddGroupSymbols({66, 67, 68, 69}, {3});
  std::vector<std::size_t> useless;
  ASSERT_TRUE(s.Solve(&useless));
  EXPECT_EQ(s.received[2], s.blocks[2]);
}

TEST(GroupCoder, NamesTheGroupSymbolsThatAddNothing) {
  std::mt19937 rng(9);
  Scenario s = MakeScenario(32, 3, 0.0, 0, rng);
  s.missing[0] = {1, 2};
  s.missing[1] = {5};
  for (int i : {0, 1}) {
    for (std::uint8_t m : s.missing[i]) s.received[i][m].assign(kSize, 0);
  }
  // Three group symbols, the second a copy of the first: two unknowns short of one.
  s.AddGroupSymbols({40}, {0});
  s.AddGroupSymbols({40}, {0});
  s.AddGroupSymbols({41}, {0});
  std::vector<std::size_t> useless;
  ASSERT_FALSE(s.Solve(&useless));
  EXPECT_EQ(useless, (std::vector<std::size_t>{1}));
  // The same id in another combination separates the blocks.
  s.group.erase(s.group.begin() + 1);
  s.groupData.erase(s.groupData.begin() + 1);
  s.AddGroupSymbols({40}, {1});
  ASSERT_TRUE(s.Solve(&useless));
  for (int i : {0, 1, 2}) EXPECT_EQ(s.received[i], s.blocks[i]);
}

}  // namespace
}  // namespace ondavox::fcast
