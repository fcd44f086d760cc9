#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "common/FcastComponent.h"
#include "fcast/code/GroupCode.h"
#include "fcast/code/ReedSolomonCode.h"
#include "fcast/engine/IncomingFile.h"
#include "fcast/engine/Sha256.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr std::uint32_t kSymbol = 64;

DescriptorPacket Describe(const std::string& content, const std::string& name, std::uint32_t k) {
  DescriptorPacket d;
  d.fileId = 42;
  d.fileSize = content.size();
  d.symbolSize = kSymbol;
  d.sourceSymbols = static_cast<std::uint16_t>(k);
  d.symbolIds = 255;
  Sha256 hash;
  hash.Update({reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
  d.sha256 = hash.Final();
  d.name = name;
  return d;
}

// Produces the symbols of a file as the sender does: source and repair symbols of each block.
class SymbolSource {
 public:
  SymbolSource(const std::string& content, const FileLayout& layout)
      : content_(content), layout_(layout) {}

  std::vector<std::uint8_t> Symbol(std::uint32_t block, std::uint8_t id) {
    const std::uint32_t k = layout_.SourceSymbols(block);
    const auto source = Source(block);
    if (id < k) return source[id];
    std::vector<const std::uint8_t*> pointers;
    for (const auto& symbol : source) pointers.push_back(symbol.data());
    std::vector<std::uint8_t> out(kSymbol);
    std::uint8_t* outPointer = out.data();
    code_.Encode(static_cast<int>(k), kSymbol, pointers.data(), {&id, 1}, &outPointer);
    return out;
  }

  std::vector<std::uint8_t> GroupSymbol(std::uint32_t group, std::uint8_t id,
                                        std::uint8_t combination) {
    const std::uint32_t first = layout_.GroupFirstBlock(group);
    std::vector<std::vector<std::vector<std::uint8_t>>> sources;
    std::vector<std::vector<const std::uint8_t*>> pointers;
    for (std::uint32_t b = first; b < first + layout_.GroupSize(group); ++b) {
      sources.push_back(Source(b));
      pointers.emplace_back();
      for (const auto& symbol : sources.back()) pointers.back().push_back(symbol.data());
    }
    std::vector<const std::uint8_t* const*> blocks;
    for (const auto& p : pointers) blocks.push_back(p.data());
    std::vector<std::uint8_t> out(kSymbol);
    std::uint8_t* outPointer = out.data();
    const GroupCoder::GroupSymbol symbol{id, combination, nullptr};
    groupCoder_.Encode(static_cast<int>(layout_.SourceSymbols(first)), kSymbol, blocks,
                       {&symbol, 1}, &outPointer);
    return out;
  }

 private:
  std::vector<std::vector<std::uint8_t>> Source(std::uint32_t block) const {
    const std::uint32_t k = layout_.SourceSymbols(block);
    std::vector<std::vector<std::uint8_t>> source(k, std::vector<std::uint8_t>(kSymbol, 0));
    for (std::uint32_t j = 0; j < k; ++j) {
      const std::uint64_t offset = layout_.Offset(block, j);
      std::copy_n(content_.data() + offset, layout_.Length(block, j), source[j].begin());
    }
    return source;
  }

  const std::string& content_;
  const FileLayout& layout_;
  ReedSolomonCode code_;
  GroupCoder groupCoder_;
};

IncomingFile::Result Feed(IncomingFile& file, SymbolSource& source, std::uint32_t block,
                          std::uint8_t id) {
  const std::vector<std::uint8_t> data = source.Symbol(block, id);
  SymbolPacket packet;
  packet.fileId = 42;
  packet.block = block;
  packet.symbolId = id;
  packet.data = data;
  return file.Accept(packet);
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(IncomingFile, RebuildsEveryBlockFromWhateverSymbolsArrive) {
  // Per block: every source symbol lost, half lost, none lost, or only repair symbols arriving
  // long after the source ones; the last symbol is partial.
  TempDir dir;
  const std::uint32_t k = 10;
  const std::string content = RandomBytes(kSymbol * k * 4 + kSymbol * 3 + 17, 1);
  const DescriptorPacket d = Describe(content, "data.bin", k);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k, 255);
  auto created = IncomingFile::Create(dir.path().string(), d, layout, 0);
  ASSERT_TRUE(created.file) << created.status.message();
  auto& file = created.file;
  SymbolSource source(content, layout);
  int completions = 0;
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    const std::uint32_t kb = layout.SourceSymbols(block);
    for (std::uint32_t j = 0; j < kb; ++j) {
      if (block == 1 || (block == 2 && j % 2 == 0)) continue;  // lost
      completions += Feed(*file, source, block, static_cast<std::uint8_t>(j)) ==
                     IncomingFile::Result::kComplete;
    }
  }
  EXPECT_FALSE(file->Whole());
  // Repair symbols, with a duplicate and some ids far into the repair space.
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    const std::uint32_t kb = layout.SourceSymbols(block);
    for (std::uint32_t r = 0; r < kb; ++r) {
      const auto id = static_cast<std::uint8_t>(254 - r);
      completions += Feed(*file, source, block, id) == IncomingFile::Result::kComplete;
      if (r == 0) {
        EXPECT_EQ(Feed(*file, source, block, id), IncomingFile::Result::kIgnored);
      }
    }
  }
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(file->Whole());
  EXPECT_EQ(file->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "data.bin"), content);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"data.bin"});
}

TEST(IncomingFile, DropsSymbolsThatDoNotFitTheLayoutAndMovesRepairOutOfTheWayOfLateSources) {
  TempDir dir;
  const std::uint32_t k = 4;
  const std::string content = RandomBytes(kSymbol * k * 3 - 5, 2);  // the last symbol partial
  DescriptorPacket d = Describe(content, "../../x", k);
  d.symbolIds = 8;
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k, 8);
  auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Name(), "x");
  SymbolSource source(content, layout);
  std::vector<std::uint8_t> data(kSymbol);
  SymbolPacket packet{42, 3, 0, data};  // block out of range
  EXPECT_EQ(file->Accept(packet), IncomingFile::Result::kIgnored);
  packet = {42, 0, 8, data};  // id beyond n
  EXPECT_EQ(file->Accept(packet), IncomingFile::Result::kIgnored);
  std::vector<std::uint8_t> shortData(kSymbol - 1);
  packet = {42, 0, 0, shortData};  // wrong symbol size
  EXPECT_EQ(file->Accept(packet), IncomingFile::Result::kIgnored);

  using R = IncomingFile::Result;
  // Block 0: repair 4 takes the free place 1; source 1 comes after all and moves it to place
  // 2; source 3 completes the block, rebuilding source 2 from the moved repair symbol.
  EXPECT_EQ(Feed(*file, source, 0, 0), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 4), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 4), R::kIgnored);  // a duplicate repair
  EXPECT_EQ(Feed(*file, source, 0, 1), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 3), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 1), R::kIgnored);  // block 0 done
  // Block 1: a late source that completes the block as it displaces a repair symbol.
  for (std::uint8_t id : {5, 6, 7}) EXPECT_EQ(Feed(*file, source, 1, id), R::kStored);
  EXPECT_EQ(Feed(*file, source, 1, 0), R::kStored);
  // Block 2, with the file's partial last symbol: repair only, in the places of the sources
  // including the last one, which the finished file must not keep in full.
  EXPECT_EQ(Feed(*file, source, 2, 0), R::kStored);
  for (std::uint8_t id : {4, 5}) EXPECT_EQ(Feed(*file, source, 2, id), R::kStored);
  EXPECT_EQ(Feed(*file, source, 2, 7), R::kComplete);
  EXPECT_EQ(file->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "x"), content);
  EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path().parent_path() / "x"));
}

TEST(IncomingFile, PoolsGroupSymbolsWhateverTheOrderOfArrival) {
  // 12 blocks of 12 or 11 symbols in 4 groups of up to 4 (4 + 1 long blocks, 4 + 3 short).
  // Sources and each block's first 4 repair symbols are lost at 40%, the group symbols
  // come all, and everything arrives in a random order: group symbols take places that late
  // sources and repair symbols then claim, and move from block to block.
  const std::uint32_t k = 12;
  const std::string content = RandomBytes(kSymbol * (12 * 11 + 5) - 9, 4);
  DescriptorPacket d = Describe(content, "pooled.bin", k);
  d.groupBlocks = 4;
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k, 255, 4);
  ASSERT_EQ(layout.GroupCount(), 4u);
  SymbolSource source(content, layout);
  struct Arrival {
    bool group;
    std::uint32_t unit;
    std::uint8_t id;
    std::uint8_t combination;
  };
  std::vector<Arrival> all;
  for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
    const std::uint32_t kb = layout.SourceSymbols(b);
    for (std::uint32_t id = 0; id < kb + 4; ++id) {
      all.push_back({false, b, static_cast<std::uint8_t>(id), 0});
    }
  }
  for (std::uint32_t g = 0; g < layout.GroupCount(); ++g) {
    const std::uint32_t kb = layout.SourceSymbols(layout.GroupFirstBlock(g));
    for (std::uint8_t c : {0, 1, 2, 3}) {
      for (std::uint32_t id = kb + 4; id < kb + 16; ++id) {
        all.push_back({true, g, static_cast<std::uint8_t>(id), c});
      }
    }
  }
  for (std::uint32_t trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE(trial);
    TempDir dir;
    auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
    ASSERT_TRUE(file);
    std::mt19937 rng(trial);
    std::vector<Arrival> arrivals;
    std::bernoulli_distribution lost(0.4);
    for (const Arrival& a : all) {
      if (a.group || !lost(rng)) arrivals.push_back(a);
    }
    std::shuffle(arrivals.begin(), arrivals.end(), rng);
    int completions = 0;
    for (const Arrival& a : arrivals) {
      IncomingFile::Result result;
      if (a.group) {
        const std::vector<std::uint8_t> data = source.GroupSymbol(a.unit, a.id, a.combination);
        result = file->Accept(GroupSymbolPacket{42, a.unit, a.id, a.combination, data});
      } else {
        result = Feed(*file, source, a.unit, a.id);
      }
      ASSERT_NE(result, IncomingFile::Result::kFailed);
      completions += result == IncomingFile::Result::kComplete;
    }
    ASSERT_EQ(completions, 1);
    ASSERT_EQ(file->Finish(), kFcastErrorNone);
    EXPECT_EQ(ReadFile(dir.path() / "pooled.bin"), content);
  }
}

TEST(IncomingFile, IgnoresGroupSymbolsItCannotUse) {
  TempDir dir;
  const std::string content = RandomBytes(kSymbol * 8, 5);
  DescriptorPacket d = Describe(content, "two.bin", 4);
  d.groupBlocks = 2;
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 4, 255, 2);
  auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
  ASSERT_TRUE(file);
  SymbolSource source(content, layout);
  using R = IncomingFile::Result;
  std::vector<std::uint8_t> data = source.GroupSymbol(0, 10, 1);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 1, 10, 1, data}), R::kIgnored);  // no group 1
  std::vector<std::uint8_t> shortData(kSymbol - 1);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 10, 1, shortData}), R::kIgnored);
  // Block 0 lacks source 3, block 1 sources 0 and 1: three group symbols, one a duplicate.
  for (std::uint8_t id : {0, 1, 2}) EXPECT_EQ(Feed(*file, source, 0, id), R::kStored);
  for (std::uint8_t id : {2, 3}) EXPECT_EQ(Feed(*file, source, 1, id), R::kStored);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 10, 1, data}), R::kStored);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 10, 1, data}), R::kIgnored);
  data = source.GroupSymbol(0, 11, 1);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 11, 1, data}), R::kStored);
  data = source.GroupSymbol(0, 11, 2);
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 11, 2, data}), R::kComplete);
  EXPECT_TRUE(file->Whole());
  EXPECT_EQ(file->Accept(GroupSymbolPacket{42, 0, 12, 2, data}), R::kIgnored);
  EXPECT_EQ(file->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "two.bin"), content);
}

TEST(IncomingFile, RefusesWhatDoesNotFitAndLeavesNothingBehind) {
  TempDir dir;
  // Larger than any disk here.
  DescriptorPacket huge = Describe("", "huge.iso", 254);
  huge.fileSize = std::uint64_t{300} << 30;  // within the block limit, beyond the disk
  const std::optional<FileLayout> hugeLayout = FileLayout::Make(huge.fileSize, 1448, 254, 255);
  ASSERT_TRUE(hugeLayout);
  IncomingFile::Created refused = IncomingFile::Create(dir.path().string(), huge, *hugeLayout, 0);
  EXPECT_FALSE(refused.file);
  EXPECT_EQ(refused.error, kFcastErrorDiskSpace);
  // Fits alone, but not beside what other files in progress have been promised.
  const std::string content = RandomBytes(1000, 3);
  const DescriptorPacket d = Describe(content, "small", 4);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 4, 255);
  refused = IncomingFile::Create(dir.path().string(), d, layout, kMaxFileSize);
  EXPECT_FALSE(refused.file);
  EXPECT_EQ(refused.error, kFcastErrorDiskSpace);
  refused = IncomingFile::Create((dir.path() / "missing").string(), d, layout, 0);
  EXPECT_FALSE(refused.file);
  EXPECT_EQ(refused.error, kFcastErrorCreateFile);
  EXPECT_TRUE(FolderEntries(dir.path()).empty());

  // A file abandoned half way, and one whose content does not match its SHA-256.
  {
    auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
    ASSERT_TRUE(file);
    EXPECT_EQ(FolderEntries(dir.path()).size(), 1u);
  }
  EXPECT_TRUE(FolderEntries(dir.path()).empty());
  DescriptorPacket lying = d;
  (*lying.sha256)[0] ^= 1;
  auto file = IncomingFile::Create(dir.path().string(), lying, layout, 0).file;
  ASSERT_TRUE(file);
  SymbolSource source(content, layout);
  IncomingFile::Result result = IncomingFile::Result::kIgnored;
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    for (std::uint32_t j = 0; j < layout.SourceSymbols(block); ++j) {
      result = Feed(*file, source, block, static_cast<std::uint8_t>(j));
    }
  }
  EXPECT_EQ(result, IncomingFile::Result::kComplete);
  EXPECT_EQ(file->Finish(), kFcastErrorChecksum);
  file.reset();
  EXPECT_TRUE(FolderEntries(dir.path()).empty());
}

TEST(IncomingFile, StaleTemporariesGoButThoseOfALiveFileStay) {
  // A receiver killed mid-file left one; another receiver on the folder writes one now.
  TempDir dir;
  WriteFile(dir.path() / ".fcast-stale", "left behind");
  WriteFile(dir.path() / "done.bin", "a received file");
  const std::string content = RandomBytes(1000, 5);
  const DescriptorPacket d = Describe(content, "live.bin", 4);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 4, 255);
  auto live = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
  ASSERT_TRUE(live);
  IncomingFile::RemoveStaleTemporaries(dir.path().string());
  std::vector<std::string> entries = FolderEntries(dir.path());
  std::sort(entries.begin(), entries.end());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].rfind(".fcast-", 0), 0u);
  EXPECT_NE(entries[0], ".fcast-stale");
  EXPECT_EQ(entries[1], "done.bin");
  // The live file still completes under its name.
  SymbolSource source(content, layout);
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    for (std::uint32_t j = 0; j < layout.SourceSymbols(block); ++j) {
      Feed(*live, source, block, static_cast<std::uint8_t>(j));
    }
  }
  EXPECT_EQ(live->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "live.bin"), content);
}

}  // namespace
}  // namespace ondavox::fcast

namespace ondavox::fcast {
namespace {

TEST(IncomingFile, BlockStateIsMadeAsSymbolsComeWithinItsBudgetAndGoesWhenWhole) {
  // 200 blocks of two source symbols: a block's state is made by its first symbol, within a
  // budget that holds one chunk of 64 blocks' state beside the file's directory.
  TempDir dir;
  const std::string content = RandomBytes(kSymbol * 2 * 200, 14);
  const DescriptorPacket d = Describe(content, "budget.bin", 2);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 2, 4);
  MemoryBudget budget(8 << 10);
  auto created = IncomingFile::Create(dir.path().string(), d, layout, 0, &budget);
  ASSERT_TRUE(created.file) << created.status.message();
  IncomingFile& file = *created.file;
  const std::uint64_t directory = budget.Held();
  EXPECT_EQ(file.HeldBytes(), directory);
  EXPECT_LT(directory, 1024u);
  SymbolSource source(content, layout);
  using R = IncomingFile::Result;
  // A second chunk does not fit beside a first that is still in progress.
  EXPECT_EQ(Feed(file, source, 0, 0), R::kStored);
  const std::uint64_t oneChunk = budget.Held();
  EXPECT_GT(oneChunk, directory + 64 * 32);
  EXPECT_EQ(Feed(file, source, 64, 0), R::kIgnored);
  EXPECT_EQ(Feed(file, source, 64, 2), R::kIgnored);
  // Chunk by chunk, each released when its blocks are whole; the buffers that hash blocks stay.
  const std::uint64_t buffers = 2 * 2 * kSymbol;
  int completions = 0;
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    EXPECT_NE(Feed(file, source, block, 1), R::kIgnored) << block;
    completions += Feed(file, source, block, 0) == R::kComplete;
    EXPECT_LE(budget.Held(), oneChunk + buffers);
  }
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(budget.Held(), directory + buffers);
  EXPECT_EQ(file.Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "budget.bin"), content);
  created.file.reset();
  EXPECT_EQ(budget.Held(), 0u);
}

}  // namespace
}  // namespace ondavox::fcast
