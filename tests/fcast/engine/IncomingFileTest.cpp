#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "common/FcastComponent.h"
#include "fcast/code/WideCode.h"
#include "fcast/engine/FileDigest.h"
#include "fcast/engine/IncomingFile.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr std::uint32_t kSymbol = 64;

// Produces the symbols of a file as the sender does: source and repair symbols of each block.
class SymbolSource {
 public:
  SymbolSource(const std::string& content, const FileLayout& layout)
      : content_(content), layout_(layout) {}

  std::vector<std::uint8_t> Symbol(std::uint32_t block, std::uint16_t id) {
    const std::uint32_t k = layout_.SourceSymbols(block);
    const std::uint32_t stride = WideStride(k);
    const auto source = Source(block);
    const std::size_t size = layout_.SymbolSize();
    if (id < k) return source[id];
    std::vector<std::uint8_t>& coset = cosets_[{block, id / stride}];
    if (coset.empty()) {
      coset.resize(std::size_t{stride} * size);
      std::vector<const std::uint8_t*> in;
      for (const auto& symbol : source) in.push_back(symbol.data());
      std::vector<std::uint8_t*> out;
      for (std::uint32_t j = 0; j < stride; ++j) out.push_back(&coset[j * size]);
      encoder_.EncodeCoset(k, size, in.data(), id / stride, stride, out.data());
    }
    const auto at = coset.begin() + static_cast<std::ptrdiff_t>(id % stride * size);
    return {at, at + static_cast<std::ptrdiff_t>(size)};
  }

  // The digest of the file as its descriptor carries it.
  Sha256Digest Digest() const {
    std::vector<Sha256Digest> blocks;
    for (std::uint32_t b = 0; b < layout_.BlockCount(); ++b) {
      std::vector<SymbolDigest> symbols;
      for (const auto& symbol : Source(b)) symbols.push_back(DigestSymbol(symbol));
      blocks.push_back(DigestSymbols(symbols));
    }
    return DigestBlocks(blocks);
  }

 private:
  std::vector<std::vector<std::uint8_t>> Source(std::uint32_t block) const {
    const std::uint32_t k = layout_.SourceSymbols(block);
    std::vector<std::vector<std::uint8_t>> source(
        k, std::vector<std::uint8_t>(layout_.SymbolSize(), 0));
    for (std::uint32_t j = 0; j < k; ++j) {
      const std::uint64_t offset = layout_.Offset(block, j);
      std::copy_n(content_.data() + offset, layout_.Length(block, j), source[j].begin());
    }
    return source;
  }

  const std::string& content_;
  const FileLayout layout_;
  WideEncoder encoder_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint8_t>> cosets_;
};

DescriptorPacket Describe(const std::string& content, const std::string& name, std::uint32_t k,
                          std::uint32_t symbolSize = kSymbol) {
  DescriptorPacket d;
  d.fileId = 42;
  d.fileSize = content.size();
  d.symbolSize = static_cast<std::uint16_t>(symbolSize);
  d.sourceSymbols = static_cast<std::uint16_t>(k);
  d.sha256 = SymbolSource(content, *FileLayout::Make(content.size(), symbolSize, k)).Digest();
  d.name = name;
  return d;
}

IncomingFile::Result Feed(IncomingFile& file, SymbolSource& source, std::uint32_t block,
                          std::uint16_t id) {
  const std::vector<std::uint8_t> data = source.Symbol(block, id);
  return file.Accept(SymbolPacket{42, block, id, data});
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(IncomingFile, RebuildsEveryBlockFromWhateverSymbolsArriveInAnyOrder) {
  // Blocks of 37 and 38 source symbols (stride 64), the last symbol partial. Per block: every
  // source lost (repair from two cosets), 30% lost, none lost, and one whose lost sources come
  // after all, once repair symbols stand in their places.
  TempDir dir;
  const std::uint32_t k = 38;
  const std::string content = RandomBytes(kSymbol * (4 * k - 1) - 17, 1);
  const DescriptorPacket d = Describe(content, "data.bin", k);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k);
  ASSERT_EQ(layout.BlockCount(), 4u);
  auto created = IncomingFile::Create(dir.path().string(), d, layout, 0);
  ASSERT_TRUE(created.file) << created.status.message();
  IncomingFile& file = *created.file;
  int meanwhile = 0;  // the receiver reads its socket there
  file.SetMeanwhile([&meanwhile] { ++meanwhile; });
  SymbolSource source(content, layout);
  std::vector<std::pair<std::uint32_t, std::uint16_t>> order;
  std::mt19937 random(7);
  for (std::uint32_t block = 0; block < 4; ++block) {
    const std::uint32_t kb = layout.SourceSymbols(block);
    for (std::uint16_t j = 0; j < kb; ++j) {
      const bool lost =
          block == 0 || (block == 1 && random() % 10 < 3) || (block == 3 && j % 4 == 0);
      if (!lost) order.emplace_back(block, j);
    }
    // Repair from the third coset, then the first: ids far apart.
    const std::uint32_t wanted = block == 0 ? kb : block == 1 ? kb / 2 : block == 3 ? kb / 4 : 0;
    for (std::uint32_t r = 0; r < wanted; ++r) {
      order.emplace_back(block, static_cast<std::uint16_t>((r % 2 == 0 ? 3 * 64 : 64) + r));
    }
  }
  std::shuffle(order.begin(), order.end(), random);
  int completions = 0;
  for (const auto& [block, id] : order) {
    completions += Feed(file, source, block, id) == IncomingFile::Result::kComplete;
  }
  EXPECT_FALSE(file.Whole());
  // Block 3 misses one symbol: a late source, most likely in a stand-in's place, completes it.
  EXPECT_EQ(Feed(file, source, 3, 36), IncomingFile::Result::kComplete);
  EXPECT_EQ(completions, 0);
  EXPECT_GE(meanwhile, 3);  // blocks 0, 1 and 3 were rebuilt
  EXPECT_EQ(file.Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "data.bin"), content);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"data.bin"});
}

TEST(IncomingFile, RebuildsInSeveralPassesWhatOnePassWould) {
  // Symbols of three columns, a decoder with work memory for one: each pass rebuilds a third
  // of every lost symbol, and the file's digest holds only if they are put back together.
  TempDir dir;
  const std::uint32_t k = 40;
  const std::uint32_t symbolSize = 3 * 64;
  const std::string content = RandomBytes(symbolSize * 2 * k - 5, 2);
  const DescriptorPacket d = Describe(content, "passes.bin", k, symbolSize);
  const FileLayout layout = *FileLayout::Make(d.fileSize, symbolSize, k);
  WideDecoder decoder(2 * 64 * 64);  // one column of a window of 128 points
  auto created = IncomingFile::Create(dir.path().string(), d, layout, 0, nullptr, &decoder);
  ASSERT_TRUE(created.file) << created.status.message();
  IncomingFile& file = *created.file;
  SymbolSource source(content, layout);
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    const std::uint32_t kb = layout.SourceSymbols(block);
    for (std::uint16_t j = 0; j < kb; ++j) {
      if (j % 3 != 1) Feed(file, source, block, j);
    }
    for (std::uint16_t r = 0; r < kb / 3 + 1; ++r) Feed(file, source, block, 64 + r);
  }
  ASSERT_TRUE(file.Whole());
  EXPECT_EQ(decoder.Passes(), 3);
  EXPECT_EQ(file.Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "passes.bin"), content);
}

TEST(IncomingFile, IgnoresSymbolsThatAddNothing) {
  TempDir dir;
  const std::uint32_t k = 5;  // stride 8: ids 5 to 7 are the code's padding
  const std::string content = RandomBytes(kSymbol * k * 2 - 5, 2);
  const DescriptorPacket d = Describe(content, "../../x", k);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k);
  auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Name(), "x");
  SymbolSource source(content, layout);
  using R = IncomingFile::Result;
  std::vector<std::uint8_t> data(kSymbol);
  EXPECT_EQ(file->Accept(SymbolPacket{42, 2, 0, data}), R::kIgnored);  // no such block
  EXPECT_EQ(file->Accept(SymbolPacket{42, 0, 5, data}), R::kIgnored);  // padding
  EXPECT_EQ(file->Accept(SymbolPacket{42, 0, 7, data}), R::kIgnored);
  std::vector<std::uint8_t> shortData(kSymbol - 2);
  EXPECT_EQ(file->Accept(SymbolPacket{42, 0, 0, shortData}), R::kIgnored);
  EXPECT_EQ(Feed(*file, source, 0, 0), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 0), R::kIgnored);
  EXPECT_EQ(Feed(*file, source, 0, 65535), R::kStored);  // the last id of the code
  EXPECT_EQ(Feed(*file, source, 0, 65535), R::kIgnored);
  for (std::uint16_t id : {9, 10, 11}) EXPECT_EQ(Feed(*file, source, 0, id), R::kStored);
  EXPECT_EQ(Feed(*file, source, 0, 4), R::kIgnored);  // block 0 is whole
  for (std::uint16_t id = 0; id < k; ++id) Feed(*file, source, 1, id);
  EXPECT_TRUE(file->Whole());
  EXPECT_EQ(file->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "x"), content);
}

TEST(IncomingFile, ASymbolChangedOnTheWayFailsTheDigestWhetherReceivedOrRebuilt) {
  const std::uint32_t k = 16;
  const std::string content = RandomBytes(kSymbol * k * 2, 9);
  const DescriptorPacket d = Describe(content, "forged.bin", k);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, k);
  for (const bool repair : {false, true}) {
    TempDir dir;
    auto file = IncomingFile::Create(dir.path().string(), d, layout, 0).file;
    ASSERT_TRUE(file);
    SymbolSource source(content, layout);
    for (std::uint16_t id = 0; id < k; ++id) Feed(*file, source, 0, id);
    for (std::uint16_t id = 1; id < k; ++id) Feed(*file, source, 1, id);
    std::vector<std::uint8_t> forged = source.Symbol(1, repair ? 16 : 0);
    forged[3] ^= 1;
    EXPECT_EQ(
        file->Accept(SymbolPacket{42, 1, repair ? std::uint16_t{16} : std::uint16_t{0}, forged}),
        IncomingFile::Result::kComplete);
    EXPECT_EQ(file->Finish(), kFcastErrorChecksum) << repair;
  }
}

TEST(IncomingFile, RefusesWhatDoesNotFitAndLeavesNothingBehind) {
  TempDir dir;
  // Larger than any disk here.
  DescriptorPacket huge = Describe("", "huge.iso", 254);
  huge.fileSize = std::uint64_t{300} << 30;  // within the block limit, beyond the disk
  const std::optional<FileLayout> hugeLayout = FileLayout::Make(huge.fileSize, 1448, 16384);
  ASSERT_TRUE(hugeLayout);
  IncomingFile::Created refused = IncomingFile::Create(dir.path().string(), huge, *hugeLayout, 0);
  EXPECT_FALSE(refused.file);
  EXPECT_EQ(refused.error, kFcastErrorDiskSpace);
  // Fits alone, but not beside what other files in progress have been promised.
  const std::string content = RandomBytes(1000, 3);
  const DescriptorPacket d = Describe(content, "small", 4);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 4);
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
      result = Feed(*file, source, block, static_cast<std::uint16_t>(j));
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
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 4);
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
      Feed(*live, source, block, static_cast<std::uint16_t>(j));
    }
  }
  EXPECT_EQ(live->Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "live.bin"), content);
}

TEST(IncomingFile, BlockStateIsMadeAsSymbolsComeWithinItsBudgetAndGoesWhenWhole) {
  // 40 blocks of 2 source symbols: a block's state is made by its first symbol, within a
  // budget that holds a few blocks' state beside the file's own; the room that lets a block
  // write its symbols together comes only from the budget's spare half.
  TempDir dir;
  const std::string content = RandomBytes(kSymbol * 2 * 40, 14);
  const DescriptorPacket d = Describe(content, "budget.bin", 2);
  const FileLayout layout = *FileLayout::Make(d.fileSize, kSymbol, 2);
  MemoryBudget budget(8 << 10);
  auto created = IncomingFile::Create(dir.path().string(), d, layout, 0, &budget);
  ASSERT_TRUE(created.file) << created.status.message();
  IncomingFile& file = *created.file;
  const std::uint64_t own = budget.Held();
  EXPECT_EQ(file.HeldBytes(), own);
  EXPECT_LT(own, 64u);
  SymbolSource source(content, layout);
  using R = IncomingFile::Result;
  std::uint32_t fitting = 0;
  std::uint64_t lastBlock = 0;  // the state alone, the spare half long used up
  for (std::uint64_t before = budget.Held(); Feed(file, source, fitting, 0) == R::kStored;
       before = budget.Held()) {
    lastBlock = budget.Held() - before;
    ++fitting;
  }
  EXPECT_GE(fitting, 2u);
  EXPECT_LT(fitting, 40u);
  EXPECT_LE(budget.Held(), 8u << 10);
  EXPECT_GT(budget.Held() + lastBlock, 8u << 10);
  EXPECT_EQ(file.HeldBytes(), budget.Held());
  // Whole blocks give their state back, and the symbols refused come again.
  int completions = 0;
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    EXPECT_NE(Feed(file, source, block, 1), R::kIgnored) << block;
    completions += Feed(file, source, block, 0) == R::kComplete;
  }
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(budget.Held(), own);
  EXPECT_EQ(file.Finish(), kFcastErrorNone);
  EXPECT_EQ(ReadFile(dir.path() / "budget.bin"), content);
  created.file.reset();
  EXPECT_EQ(budget.Held(), 0u);
}

}  // namespace
}  // namespace ondavox::fcast
