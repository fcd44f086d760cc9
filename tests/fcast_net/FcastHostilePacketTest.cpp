// A receiver under forged, corrupted and hostile packets sent from another host: it keeps
// running, refuses what does not fit, and writes only plain files inside its own folder.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <random>
#include <set>
#include <thread>

#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"
#include "platform/Ipv4Endpoint.h"
#include "tests/fcast_net/FcastLab.h"
#include "tests/fcast_net/Forger.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast_net {
namespace {

using namespace std::chrono_literals;
using fcast::DescriptorPacket;
constexpr std::uint16_t kSymbolSize = Forger::kSymbolSize;
constexpr std::uint16_t kK = Forger::kK;

std::vector<std::uint8_t> Encoded(const DescriptorPacket& descriptor) {
  std::vector<std::uint8_t> datagram;
  fcast::EncodeDescriptor(descriptor, datagram);
  return datagram;
}

std::set<std::string> CompletedNames(const std::string& output) {
  std::set<std::string> names;
  for (const Completion& completion : Completions(output)) names.insert(completion.name);
  return names;
}

class FcastHostilePackets : public testing::Test {
 protected:
  void SetUp() override {
    fcast_ = FcastLab::Create(2);
    ASSERT_NE(fcast_, nullptr);
    outer_ = fcast_->Folder() / "outer";
    inbox_ = outer_ / "inbox";
    std::filesystem::create_directories(inbox_);
    test::WriteFile(outer_ / "keep.txt", "keep");
    receiver_ = fcast_->StartReceiver(1, inbox_, 0);
    ASSERT_NE(receiver_, nullptr);
    forger_ = std::make_unique<Forger>(fcast_->Lab(), 0);
  }

  // Waits until the receiver reports |name| complete; false after |timeout|.
  bool WaitForCompletion(const std::string& name, std::chrono::milliseconds timeout = 20s) {
    return test::WaitFor([&] { return CompletedNames(receiver_->Output()).count(name) > 0; },
                         timeout);
  }

  // The receiver survived everything so far: a real transfer still completes.
  void ExpectStillReceiving(const std::string& name) {
    ASSERT_TRUE(receiver_->Running()) << "receiver ended: " << receiver_->Errors();
    const std::string content = PatternBytes(20000, 99);
    test::WriteFile(fcast_->Folder() / name, content);
    auto sender = fcast_->StartSender(0, 20000, 2, {fcast_->Folder() / name});
    ASSERT_NE(sender, nullptr);
    EXPECT_TRUE(WaitForCompletion(name)) << receiver_->Output() << receiver_->Errors();
    EXPECT_EQ(test::ReadFile(inbox_ / name), content);
    EXPECT_EQ(sender->Wait(30s), 0);
    EXPECT_TRUE(receiver_->Running());
  }

  // Nothing appeared outside the receiver's folder, and inside it only plain files.
  void ExpectNothingOutsideTheFolder() {
    EXPECT_EQ(FolderEntries(outer_), (std::vector<std::string>{"inbox", "keep.txt"}));
    EXPECT_EQ(test::ReadFile(outer_ / "keep.txt"), "keep");
    for (const auto& entry : std::filesystem::directory_iterator(inbox_)) {
      EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    }
    EXPECT_FALSE(std::filesystem::exists(fcast_->Folder() / "x"));
    EXPECT_FALSE(std::filesystem::exists(fcast_->Folder() / "x2"));
  }

  std::unique_ptr<FcastLab> fcast_;
  std::filesystem::path outer_;
  std::filesystem::path inbox_;
  std::unique_ptr<lab::HostProcess> receiver_;
  std::unique_ptr<Forger> forger_;
};

TEST_F(FcastHostilePackets, HostileNamesAreStoredAsPlainFilesInsideTheFolder) {
  const std::vector<std::string> names = {"../x",
                                          "../../x2",
                                          "a/b",
                                          "/abs",
                                          "..\\win",
                                          "c:\\dos",
                                          "ctl\x01\x7f\n",
                                          ".",
                                          "..",
                                          ".hidden",
                                          "....",
                                          std::string(255, 'n'),
                                          "\xff\xfe-bad-utf8"};
  std::uint32_t file_id = 0x5000;
  std::set<std::string> contents;
  for (const std::string& name : names) {
    ++file_id;
    const std::string content = PatternBytes(3000 + file_id, file_id);
    contents.insert(Sha256Hex(content));
    forger_->SendAll(Forger::Transfer(file_id, name, content));
  }
  ASSERT_TRUE(
      test::WaitFor([&] { return Completions(receiver_->Output()).size() >= names.size(); }, 20s))
      << receiver_->Output() << receiver_->Errors();
  for (const Completion& completion : Completions(receiver_->Output())) {
    EXPECT_EQ(completion.name.find('/'), std::string::npos) << completion.name;
    EXPECT_NE(completion.name, ".");
    EXPECT_NE(completion.name, "..");
    EXPECT_LE(completion.name.size(), 255u);
    EXPECT_EQ(contents.count(Sha256HexOfFile(inbox_ / completion.name)), 1u) << completion.name;
  }
  ExpectNothingOutsideTheFolder();
  ExpectStillReceiving("after-names.bin");
}

TEST_F(FcastHostilePackets, CorruptedPacketsNeverMakeAFile) {
  const std::string content = PatternBytes(5000, 1);
  auto datagrams = Forger::Transfer(0x6001, "corrupt.bin", content);
  std::mt19937 random(5);
  for (int pass = 0; pass < 20; ++pass) {
    for (auto datagram : datagrams) {
      // One flipped bit anywhere, the CRC field included: the CRC no longer matches.
      datagram[random() % datagram.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
      forger_->Send(datagram);
    }
  }
  // Cut short, grown, and plain noise of every length up to a jumbo datagram.
  for (const auto& datagram : datagrams) {
    for (size_t length = 0; length < datagram.size(); length += 97) {
      forger_->Send(std::vector<std::uint8_t>(
          datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(length)));
    }
    auto longer = datagram;
    longer.resize(datagram.size() + 1 + random() % 600, 0);
    forger_->Send(longer);
  }
  for (int i = 0; i < 300; ++i) {
    std::vector<std::uint8_t> noise(random() % 1600);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    if (i % 2 == 0 && noise.size() >= 6)
      std::copy_n(datagrams[0].begin(), 6, noise.begin());  // our magic
    forger_->Send(noise);
  }
  forger_->Send(std::vector<std::uint8_t>(60000, 0xA5));
  ExpectStillReceiving("after-corruption.bin");
  EXPECT_EQ(CompletedNames(receiver_->Output()), std::set<std::string>{"after-corruption.bin"});
  ExpectNothingOutsideTheFolder();
}

TEST_F(FcastHostilePackets, OutOfRangeSymbolsAreDroppedAndTheFileStillArrivesIntact) {
  const std::string content = PatternBytes(5 * kSymbolSize + 123, 2);  // two blocks of 3
  const std::uint32_t id = 0x7001;
  auto datagrams = Forger::Transfer(id, "range.bin", content);
  forger_->Send(datagrams.front());
  const std::vector<std::uint8_t> junk(kSymbolSize, 0xEE);
  std::vector<std::uint8_t> datagram;
  for (std::uint32_t block : {2u, 3u, 1000u, 0xFFFFFFFFu}) {  // past the last block
    fcast::EncodeSymbol(id, block, 0, junk, datagram);
    forger_->Send(datagram);
  }
  // Each block has 3 source symbols: id 3 is the code's zero padding, never sent.
  fcast::EncodeSymbol(id, 1, 3, junk, datagram);
  forger_->Send(datagram);
  for (size_t length :
       {size_t{0}, size_t{1}, size_t{kSymbolSize - 1}, size_t{kSymbolSize + 1}}) {  // wrong size
    fcast::EncodeSymbol(id, 0, 0, std::vector<std::uint8_t>(length, 0xEE), datagram);
    forger_->Send(datagram);
  }
  fcast::EncodeSymbol(id + 1, 0, 0, junk, datagram);  // a file never announced
  forger_->Send(datagram);
  forger_->SendAll(datagrams);
  ASSERT_TRUE(WaitForCompletion("range.bin")) << receiver_->Output() << receiver_->Errors();
  EXPECT_EQ(test::ReadFile(inbox_ / "range.bin"), content);
  ExpectNothingOutsideTheFolder();
  ExpectStillReceiving("after-ranges.bin");
}

TEST_F(FcastHostilePackets, AbsurdLayoutsAreRefusedWithoutAllocatingOrLeavingFiles) {
  const std::string content = PatternBytes(100, 3);
  std::uint32_t id = 0x8000;
  auto descriptor = [&](std::uint64_t size, std::uint16_t symbol_size, std::uint16_t k) {
    ++id;
    DescriptorPacket packet =
        Forger::Descriptor(id, "absurd-" + std::to_string(id) + ".bin", content);
    packet.fileSize = size;
    packet.symbolSize = symbol_size;
    packet.sourceSymbols = k;
    return Encoded(packet);
  };
  for (int pass = 0; pass < 3; ++pass) {
    forger_->Send(
        descriptor(fcast::kMaxFileSize, kSymbolSize, 16384));  // 16 TiB: no disk has room
    forger_->Send(descriptor(~std::uint64_t{0}, kSymbolSize, kK));
    // A layout that holds together, for a file far larger than the free disk space.
    forger_->Send(descriptor((fcast::FileLayout::kMaxBlocks - 1) * 128 * 1448, 1448, 128));
    forger_->Send(descriptor(1448 * 20000, 1448, 20000));     // blocks wider than the code
    forger_->Send(descriptor(std::uint64_t{1} << 40, 16, 1));  // far too many blocks
    forger_->Send(descriptor(100, 0, kK));
    forger_->Send(descriptor(100, 0xFFFF, kK));
    forger_->Send(descriptor(100, kSymbolSize - 1, kK));  // an odd symbol size
    forger_->Send(descriptor(100, kSymbolSize, 0));
    // Symbols that would fall inside a 16 TiB file's layout, were it accepted.
    std::vector<std::uint8_t> datagram;
    fcast::EncodeSymbol(0x8001, 1u << 30, 7, std::vector<std::uint8_t>(kSymbolSize, 1), datagram);
    forger_->Send(datagram);
  }
  ExpectStillReceiving("after-layouts.bin");
  EXPECT_EQ(CompletedNames(receiver_->Output()), std::set<std::string>{"after-layouts.bin"});
  EXPECT_NE(receiver_->Output().find("ERROR 1 "), std::string::npos)
      << "no refusal for lack of disk space";
  EXPECT_EQ(FolderEntries(inbox_), std::vector<std::string>{"after-layouts.bin"});
  ExpectNothingOutsideTheFolder();
}

}  // namespace
}  // namespace ondavox::fcast_net
