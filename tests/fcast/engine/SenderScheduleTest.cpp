// The sender's schedule without a receiver: transfers run into a socket pair, their datagrams
// checked against the file, the turn ids and the WideCode's definition.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "fcast/code/WideCode.h"
#include "fcast/engine/CarouselTransfer.h"
#include "fcast/engine/InterleavedReader.h"
#include "fcast/engine/TurnIds.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

using Symbol = std::vector<std::uint8_t>;

std::uint16_t Multiply(std::uint16_t a, std::uint16_t b) {  // x^16 + x^5 + x^3 + x^2 + 1
  std::uint32_t product = 0;
  for (std::uint32_t bit = 0, shifted = a; bit < 16; ++bit, shifted <<= 1) {
    if (shifted & 0x10000) shifted ^= 0x1002D;
    if ((b >> bit) & 1) product ^= shifted;
  }
  return static_cast<std::uint16_t>(product);
}

// Symbol |id| of a block by the code's definition: the polynomial of degree below |stride|
// through the source symbols at ids below their count and zero up to the stride, evaluated at
// |id| by Lagrange interpolation.
Symbol ReferenceSymbol(const std::vector<Symbol>& source, std::uint32_t stride, std::uint16_t id) {
  Symbol symbol(source[0].size(), 0);
  for (std::uint32_t u = 0; u < source.size(); ++u) {
    std::uint16_t weight = 1;
    for (std::uint32_t v = 0; v < stride; ++v) {
      if (v == u) continue;
      std::uint16_t inverse = 1;  // of u - v: (u ^ v)^(2^16 - 2)
      for (std::uint16_t bit = 1, power = static_cast<std::uint16_t>(u ^ v); bit != 0;
           bit = static_cast<std::uint16_t>(bit << 1), power = Multiply(power, power)) {
        if (bit != 1) inverse = Multiply(inverse, power);
      }
      weight = Multiply(Multiply(weight, static_cast<std::uint16_t>(id ^ v)), inverse);
    }
    for (std::size_t e = 0; e < symbol.size(); e += 2) {
      const std::uint16_t term =
          Multiply(weight, static_cast<std::uint16_t>(source[u][e] | source[u][e + 1] << 8));
      symbol[e] ^= static_cast<std::uint8_t>(term);
      symbol[e + 1] ^= static_cast<std::uint8_t>(term >> 8);
    }
  }
  return symbol;
}

// A transfer of |size| random bytes sending into a socket pair, and the symbols it sent.
class Transfer {
 public:
  Transfer(std::size_t size, SenderOptions options)
      : content_(test::RandomBytes(size, static_cast<std::uint32_t>(size))) {
    test::WriteFile(dir_.File("f"), content_);
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair_), 0);
    collector_ = std::thread([this] { Collect(); });
    options.rateBytesPerSecond = 1'000'000'000;
    transfer_.emplace(options, pair_[0], UniqueFd(::open(dir_.File("f").c_str(), O_RDONLY)), size,
                      "f", nullptr, counters_);
  }
  ~Transfer() {
    Finish();
    ::close(pair_[0]);
    ::close(pair_[1]);
  }
  // Ends the transfer, and the capture once every datagram sent before is in.
  void Finish() {
    if (!collector_.joinable()) return;
    transfer_.reset();
    EXPECT_EQ(::send(pair_[0], "", 1, 0), 1);
    collector_.join();
  }
  CarouselTransfer& Get() { return *transfer_; }
  const SenderCounters& Counters() const { return counters_; }
  const std::string& Content() const { return content_; }
  // The symbols sent, once finished: (block, id, bytes).
  std::vector<std::tuple<std::uint32_t, std::uint16_t, Symbol>> symbols;

 private:
  void Collect() {
    std::vector<std::uint8_t> buffer(kMaxDatagram);
    for (ssize_t n; (n = ::recv(pair_[1], buffer.data(), buffer.size(), 0)) > 1;) {
      const ParsedPacket parsed = ParsePacket({buffer.data(), static_cast<std::size_t>(n)});
      EXPECT_EQ(parsed.error, ParseError::kNone);
      if (const auto* s = std::get_if<SymbolPacket>(&parsed.packet)) {
        symbols.emplace_back(s->block, s->symbolId, Symbol(s->data.begin(), s->data.end()));
      }
    }
  }

  test::TempDir dir_;
  std::string content_;
  int pair_[2] = {-1, -1};
  SenderCounters counters_;
  std::thread collector_;
  std::optional<CarouselTransfer> transfer_;
};

// Runs |rounds| rounds of a file of |size| bytes, then checks each turn: turn 0 the source
// once, each later turn each block's kb ids of the turn's coset, fresh, in position-major order
// with block b lagging by b times the repair skew, each symbol equal to the reference.
void CheckSchedule(std::size_t size, std::uint32_t symbolSize, int plannedRounds, int rounds) {
  SenderOptions options;
  options.symbolSize = symbolSize;
  options.plannedRounds = plannedRounds;
  options.rounds = rounds;
  Transfer transfer(size, options);
  transfer.Get().Run();
  transfer.Finish();
  const FileLayout layout = *FileLayout::Make(size, symbolSize, ChooseBlockSize(plannedRounds));
  Symbol padded(transfer.Content().begin(), transfer.Content().end());
  padded.resize(layout.SymbolCount() * symbolSize, 0);
  std::vector<std::vector<Symbol>> sources(layout.BlockCount());
  for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
    for (std::uint32_t j = 0; j < layout.SourceSymbols(b); ++j) {
      sources[b].emplace_back(padded.begin() + layout.Offset(b, j),
                              padded.begin() + layout.Offset(b, j) + symbolSize);
    }
  }
  const std::uint64_t count = layout.SymbolCount();
  const std::uint64_t turns = std::max<std::uint64_t>(1, (32 + count - 1) / count) * rounds;
  ASSERT_EQ(transfer.symbols.size(), turns * count);
  std::vector<std::set<std::uint16_t>> used(layout.BlockCount());
  auto sent = transfer.symbols.begin();
  const double datagramsPerSecond = 1e9 / static_cast<double>(kSymbolHeaderSize + symbolSize);
  for (std::uint64_t turn = 0; turn < turns; ++turn) {
    const std::uint32_t skew =
        turn == 0 ? 0 : RepairSkew(layout.BlockCount(), layout.K(), datagramsPerSecond);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order;  // (step, block)
    for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
      for (std::uint32_t j = 0; j < layout.SourceSymbols(b); ++j)
        order.emplace_back(j + b * skew, b);
    }
    std::sort(order.begin(), order.end());
    for (const auto& [step, b] : order) {
      const std::uint32_t j = step - b * skew;
      {
        const auto& [block, id, data] = *sent++;
        const std::uint32_t stride = WideStride(layout.SourceSymbols(b));
        const std::uint64_t coset = turn == 0 ? 0 : 1 + (turn - 1) % (65536 / stride - 1);
        ASSERT_EQ(block, b) << "turn " << turn << " position " << j;
        ASSERT_EQ(id, coset * stride + j) << "turn " << turn << " block " << b;
        EXPECT_TRUE(used[b].insert(id).second) << "id sent twice: " << id;
        EXPECT_EQ(data, turn == 0 ? sources[b][j] : ReferenceSymbol(sources[b], stride, id));
      }
    }
  }
}

TEST(SenderSchedule, BlockSizeLeavesEachPlannedRoundAFreshCoset) {
  const std::pair<int, std::uint32_t> cases[] = {{0, 16384}, {3, 16384}, {4, 8192},   {7, 8192},
                                                 {8, 4096},  {10000, 4}, {1 << 30, 1}};
  for (const auto& [rounds, k] : cases) EXPECT_EQ(ChooseBlockSize(rounds), k) << rounds;
  // Blocks of stride 16384 have three repair cosets: turn 4 sends turn 1's ids again.
  EXPECT_EQ(TurnSymbolId(3, 16300, 5), 3 * 16384 + 5);
  EXPECT_EQ(TurnSymbolId(4, 16300, 5), TurnSymbolId(1, 16300, 5));
}

TEST(SenderSchedule, TurnsSendTheSourceThenFreshCosetsInterleaved) {
  CheckSchedule(16 * 37 - 5, 16, 10000, 3);  // k = 4: 10 blocks of 3 and 4, one pass a round
}

TEST(SenderSchedule, SmallFileSendsPassesAndBlocksOfTwoStrides) {
  CheckSchedule(32 * 9, 32, 5000, 2);  // k = 8: blocks of 5 (stride 8) and 4, 4 passes a round
}

TEST(SenderSchedule, RepairTurnsStaggerTheBlocksByADecodeEach) {
  // 100 Mbit/s in datagrams of 1424 bytes: 439 datagrams in a decode, 74 positions a block of 6.
  EXPECT_EQ(RepairSkew(6, 16384, 8778), 74u);
  EXPECT_EQ(RepairSkew(1, 16384, 8778), 0u);
  EXPECT_EQ(RepairSkew(6, 16384, 1e6), 409u);   // the last block no more than 1/16 of a turn late
  CheckSchedule(3 * 64 * 16 - 5, 16, 1000, 2);  // k = 64: 3 blocks of 64, lagging 4 positions
}

TEST(SenderSchedule, StopEndsATransferThatSendsForever) {
  SenderOptions options;
  options.plannedRounds = 10000;
  Transfer transfer(64 * 1400, options);  // rounds = 0: until stopped
  std::thread sender([&] { transfer.Get().Run(); });
  EXPECT_TRUE(test::WaitFor([&] { return transfer.Counters().rounds.load() >= 3; }));
  transfer.Get().Stop();
  sender.join();
}

TEST(SenderSchedule, ReaderGivesEverySymbolOfManyBlocksInShortRuns) {
  test::TempDir dir;
  const std::string content = test::RandomBytes(16 * 50 * 13 - 5, 7);  // 50 blocks of 13
  test::WriteFile(dir.File("f"), content);
  const UniqueFd file(::open(dir.File("f").c_str(), O_RDONLY));
  const FileLayout layout = *FileLayout::Make(content.size(), 16, 13);
  // Budgets for runs of the block's 13, of 3 and of one symbol in one buffer.
  const std::pair<std::size_t, std::uint32_t> cases[] = {{1 << 20, 13}, {50 * 16 * 3, 3}, {100, 1}};
  for (const auto& [budget, run] : cases) {
    InterleavedReader reader(layout, budget);
    EXPECT_EQ(reader.RunSymbols(), run);
    reader.Begin(file.Get(), content.size());
    for (std::uint32_t j = 0; j < 13; ++j) {
      for (std::uint32_t b = 0; b < 50; ++b) {
        std::string expected = content.substr(layout.Offset(b, j), 16);
        expected.resize(16, '\0');
        const auto* symbol = reinterpret_cast<const char*>(reader.At(b, j));
        ASSERT_EQ(std::string(symbol, 16), expected) << "run " << run << " block " << b;
      }
    }
    reader.Begin(file.Get(), content.size() + 16);  // more than the file holds
    EXPECT_EQ(reader.At(49, 12), nullptr);
  }
}

}  // namespace
}  // namespace ondavox::fcast
