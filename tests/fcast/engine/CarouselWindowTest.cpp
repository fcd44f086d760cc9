#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <set>

#include "fcast/code/GaloisTables.h"
#include "fcast/code/GroupCode.h"
#include "fcast/code/ReedSolomonCode.h"
#include "fcast/engine/CarouselWindow.h"
#include "fcast/engine/Packet.h"
#include "platform/UniqueFd.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

TEST(CarouselWindow, TurnsWalkThroughDistinctIdsAndWrapOnlyWhenUsedUp) {
  for (std::uint32_t kb : {1u, 2u, 51u, 85u, 127u, 128u}) {
    SCOPED_TRACE(kb);
    std::set<std::uint32_t> seen;
    const std::uint64_t freshTurns = kMaxSymbolsPerBlock / kb;
    for (std::uint64_t turn = 0; turn < freshTurns; ++turn) {
      for (std::uint32_t j = 0; j < kb; ++j) {
        const std::uint32_t id = CarouselWindow::SymbolId(turn, kb, j);
        EXPECT_EQ(id < kb, turn == 0);  // turn 0 is the source, the next ones repair
        EXPECT_TRUE(seen.insert(id).second) << "turn " << turn << " position " << j;
      }
    }
    // Later turns still give distinct ids within the turn.
    std::set<std::uint32_t> turn;
    for (std::uint32_t j = 0; j < kb; ++j) turn.insert(CarouselWindow::SymbolId(freshTurns, kb, j));
    EXPECT_EQ(turn.size(), kb);
  }
}

TEST(CarouselWindow, GivesTheFileAndRepairThatRebuildsIt) {
  test::TempDir dir;
  const std::uint32_t symbolSize = 100;
  const std::uint32_t k = 20;
  // Three blocks (of 16, 15 and 15 symbols), the window holds two: the second load has one.
  std::string content(symbolSize * k * 2 + symbolSize * 5 + 33, '\0');
  std::mt19937 rng(12);
  for (char& c : content) c = static_cast<char>(rng());
  test::WriteFile(dir.path() / "f", content);
  const UniqueFd fd(::open(dir.File("f").c_str(), O_RDONLY));
  ASSERT_TRUE(fd.Valid());
  const FileLayout layout = *FileLayout::Make(content.size(), symbolSize, k, 255);
  CarouselWindow window(layout, 2);
  for (std::uint32_t first : {0u, 2u}) {
    // A sweep of source positions reads just their symbols.
    ASSERT_TRUE(window.Load(fd.Get(), first, 0, 3, 6));
    for (std::uint32_t i = 0; first + i < layout.BlockCount() && i < 2; ++i) {
      for (std::uint32_t j = 3; j < 6; ++j) {
        const auto symbol = window.At(0, i, j);
        ASSERT_TRUE(symbol);
        EXPECT_EQ(std::string(symbol->data.begin(), symbol->data.end()),
                  content.substr(layout.Offset(first + i, j), symbolSize));
      }
    }
    ASSERT_TRUE(window.Load(fd.Get(), first, 0, 0, k));
    for (std::uint32_t i = 0; i < 2; ++i) {
      const std::uint32_t block = first + i;
      if (block >= layout.BlockCount()) {
        EXPECT_FALSE(window.At(0, i, 0));
        continue;
      }
      const std::uint32_t kb = layout.SourceSymbols(block);
      EXPECT_FALSE(window.At(0, i, kb));
      // Turn 0: the file's bytes, the last symbol padded with zeros.
      std::vector<std::vector<std::uint8_t>> source;
      for (std::uint32_t j = 0; j < kb; ++j) {
        const auto symbol = window.At(0, i, j);
        ASSERT_TRUE(symbol);
        EXPECT_EQ(symbol->block, block);
        EXPECT_EQ(symbol->id, j);
        EXPECT_FALSE(symbol->repair);
        std::string expected = content.substr(layout.Offset(block, j), layout.Length(block, j));
        expected.resize(symbolSize, '\0');
        EXPECT_EQ(std::string(symbol->data.begin(), symbol->data.end()), expected);
        source.emplace_back(symbol->data.begin(), symbol->data.end());
      }
      // Turn 1, encoded in two pieces: repair symbols alone rebuild the block.
      ASSERT_TRUE(window.Load(fd.Get(), first, 1, 0, 7));
      window.Encode(1, 0, 7);
      window.Encode(1, 7, k);
      std::vector<std::uint8_t> ids;
      std::vector<const std::uint8_t*> repair;
      for (std::uint32_t j = 0; j < kb; ++j) {
        const auto symbol = window.At(1, i, j);
        ASSERT_TRUE(symbol && symbol->repair);
        ids.push_back(static_cast<std::uint8_t>(symbol->id));
        repair.push_back(symbol->data.data());
      }
      std::vector<std::vector<std::uint8_t>> rebuilt(kb, std::vector<std::uint8_t>(symbolSize));
      std::vector<std::uint8_t*> pointers;
      std::vector<std::uint8_t> missing;
      for (std::uint32_t j = 0; j < kb; ++j) {
        pointers.push_back(rebuilt[j].data());
        missing.push_back(static_cast<std::uint8_t>(j));
      }
      ReedSolomonCode code;
      ASSERT_TRUE(code.Decode(static_cast<int>(kb), symbolSize, pointers.data(), missing, ids,
                              repair.data()));
      EXPECT_EQ(rebuilt, source) << "block " << block;
    }
  }
  // A file shorter than its layout cannot be loaded.
  const FileLayout longer = *FileLayout::Make(content.size() + symbolSize * k, symbolSize, k, 255);
  CarouselWindow beyond(longer, 1);
  const UniqueFd again(::open(dir.File("f").c_str(), O_RDONLY));
  EXPECT_FALSE(beyond.Load(again.Get(), 3, 0, 0, k));
}

TEST(CarouselWindow, GroupSymbolsCombineTheGroupsOtherPositions) {
  test::TempDir dir;
  const std::uint32_t symbolSize = 64;
  const std::uint32_t k = 20;
  // 7 blocks (5 of 20 symbols, 2 of 19) in groups of up to 3: {0,1,2}, {3,4}, {5,6}.
  const std::uint64_t symbols = 5 * 20 + 2 * 19;
  std::string content(symbols * symbolSize - 7, '\0');
  std::mt19937 rng(5);
  for (char& c : content) c = static_cast<char>(rng());
  test::WriteFile(dir.path() / "f", content);
  const UniqueFd fd(::open(dir.File("f").c_str(), O_RDONLY));
  ASSERT_TRUE(fd.Valid());
  const FileLayout layout = *FileLayout::Make(content.size(), symbolSize, k, 255, 3);
  ASSERT_EQ(layout.GroupCount(), 3u);
  const auto blockSource = [&](std::uint32_t block) {
    std::vector<std::vector<std::uint8_t>> source;
    for (std::uint32_t j = 0; j < layout.SourceSymbols(block); ++j) {
      std::string bytes = content.substr(layout.Offset(block, j), layout.Length(block, j));
      bytes.resize(symbolSize, '\0');
      source.emplace_back(bytes.begin(), bytes.end());
    }
    return source;
  };
  ReedSolomonCode code;
  CarouselWindow window(layout, 4);  // rounded up to whole groups: two
  ASSERT_EQ(window.GroupCapacity(), 2u);
  std::set<int> combinations[3];
  for (std::uint64_t turn : {1u, 2u}) {
    for (std::uint32_t first = 0; first < layout.GroupCount(); first += window.GroupCapacity()) {
      ASSERT_TRUE(window.LoadGroups(fd.Get(), first));
      for (std::uint32_t i = 0; i < window.GroupCapacity(); ++i) {
        const std::uint32_t group = first + i;
        if (group >= layout.GroupCount()) {
          window.EncodeGroups(turn, 0, 1);
          EXPECT_FALSE(window.GroupAt(turn, i, 0));
          continue;
        }
        const std::uint32_t firstBlock = layout.GroupFirstBlock(group);
        const std::uint32_t kb = layout.SourceSymbols(firstBlock);
        const std::uint32_t count = CarouselWindow::GroupSymbols(layout.GroupSize(group), kb);
        EXPECT_EQ(count, layout.GroupSize(group) * (kb - CarouselWindow::kOwnPositions));
        // The own positions' ids of the turn, which group symbols must not repeat.
        std::set<std::uint32_t> own;
        for (std::uint32_t j = 0; j < CarouselWindow::kOwnPositions; ++j) {
          own.insert(CarouselWindow::SymbolId(turn, kb, j));
        }
        std::set<std::pair<int, int>> seen;
        for (std::uint32_t from : {0u, count / 2}) {
          const std::uint32_t to = from == 0 ? count / 2 : count;
          window.EncodeGroups(turn, from, to);
          EXPECT_FALSE(window.GroupAt(turn, i, to));
          for (std::uint32_t s = from; s < to; ++s) {
            const auto symbol = window.GroupAt(turn, i, s);
            ASSERT_TRUE(symbol);
            EXPECT_EQ(symbol->group, group);
            EXPECT_EQ(own.count(symbol->id), 0u);
            EXPECT_TRUE(seen.insert({symbol->id, symbol->combination}).second);
            combinations[turn].insert(symbol->combination);
            std::vector<std::uint8_t> expected(symbolSize, 0);
            for (std::uint32_t b = 0; b < layout.GroupSize(group); ++b) {
              const auto source = blockSource(firstBlock + b);
              std::vector<const std::uint8_t*> in;
              for (const auto& x : source) in.push_back(x.data());
              std::vector<std::uint8_t> one(symbolSize);
              std::uint8_t* out = one.data();
              const auto id = static_cast<std::uint8_t>(symbol->id);
              code.Encode(static_cast<int>(kb), symbolSize, in.data(), {&id, 1}, &out);
              MultiplyAdd(symbolSize, GroupCoefficient(symbol->combination, static_cast<int>(b)),
                          one.data(), expected.data());
            }
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), symbol->data.begin()))
                << "turn " << turn << " group " << group << " symbol " << s;
          }
        }
        EXPECT_EQ(seen.size(), count);
      }
    }
  }
  // Each turn combines in other ways.
  for (int c : combinations[1]) EXPECT_EQ(combinations[2].count(c), 0u);
}

}  // namespace
}  // namespace ondavox::fcast
