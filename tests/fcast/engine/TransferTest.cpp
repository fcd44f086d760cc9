// Transfers over the loopback of the test's private network: the carousel sender and receiver
// of the engine, end to end.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "common/FcastComponent.h"
#include "fcast/engine/CarouselReceiver.h"
#include "fcast/engine/CarouselSender.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/IncomingFile.h"
#include "fcast/engine/Sha256.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Mutex.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

constexpr char kGroup[] = "230.0.0.2";

// Collects a receiver's events.
class Events {
 public:
  CarouselReceiver::EventSink Sink() {
    return [this](const ReceiverEvent& event) {
      MutexLock lock(mu_);
      events_.push_back(event);
    };
  }
  std::vector<ReceiverEvent> All() {
    MutexLock lock(mu_);
    return events_;
  }
  int Count(long code) {
    int n = 0;
    for (const ReceiverEvent& event : All()) n += event.code == code;
    return n;
  }

 private:
  Mutex mu_;
  std::vector<ReceiverEvent> events_ GUARDED_BY(mu_);
};

Sha256Digest DigestOf(const std::string& content) {
  Sha256 hash;
  hash.Update({reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
  return hash.Final();
}

// |content| as the sender cuts it: its bytes, zero-padded to whole symbols of |symbolSize|.
std::vector<std::uint8_t> Padded(const std::string& content, std::size_t symbolSize) {
  std::vector<std::uint8_t> bytes(content.begin(), content.end());
  bytes.resize((content.size() + symbolSize - 1) / symbolSize * symbolSize, 0);
  return bytes;
}

std::unique_ptr<CarouselReceiver> MakeReceiver(
    std::uint16_t port, const std::string& folder, Events& events,
    std::chrono::milliseconds stallTime = std::chrono::seconds(5)) {
  ReceiverOptions options;
  options.group = kGroup;
  options.port = port;
  options.folder = folder;
  options.stallTime = stallTime;
  auto created = CarouselReceiver::Create(options, events.Sink());
  EXPECT_TRUE(created.ok()) << created.status().message();
  if (!created.ok()) return nullptr;
  (*created)->Start();
  return std::move(*created);
}

// Sends hand-made datagrams to the test group on one port, as a forged sender would.
class GroupSender {
 public:
  explicit GroupSender(std::uint16_t port) : to_(*Ipv4Endpoint::Parse(kGroup, port)) {}
  void Send(const std::vector<std::uint8_t>& bytes) {
    ::sendto(socket_.Fd(), bytes.data(), bytes.size(), 0, to_.Get(), Ipv4Endpoint::Size());
  }

 private:
  Socket socket_ = Socket::Udp();
  Ipv4Endpoint to_;
};

std::unique_ptr<CarouselSender> MakeSender(std::uint16_t port, int rounds, std::int64_t rate) {
  SenderOptions options;
  options.group = kGroup;
  options.port = port;
  options.rateBytesPerSecond = rate;
  options.plannedRounds = rounds;
  options.rounds = rounds;
  auto created = CarouselSender::Create(options);
  EXPECT_TRUE(created.ok()) << created.status().message();
  if (!created.ok()) return nullptr;
  return std::move(*created);
}

TEST(FcastTransfer, FilesOfEverySizeArriveIdenticalAndTheUnitCountReachesItsTarget) {
  TempDir source;
  TempDir download;
  Events events;
  auto receiver = MakeReceiver(1711, download.path().string(), events);
  auto sender = MakeSender(1711, 2, 20'000'000);
  ASSERT_TRUE(receiver && sender);
  int expected = 0;
  for (const std::size_t size : {0ul, 1ul, 1023ul, 1024ul, 1025ul, (3ul << 20) + 7}) {
    SCOPED_TRACE(size);
    const std::string name = "file-" + std::to_string(size) + ".bin";
    const std::string content = RandomBytes(size, static_cast<std::uint32_t>(size));
    WriteFile(source.path() / name, content);
    const Status sending = sender->SendFile(source.File(name));
    ASSERT_TRUE(sending.ok()) << sending.message();
    // As the server does: poll the unit count until it reaches (size / 1024) x rounds.
    const std::int64_t target = static_cast<std::int64_t>(size / 1024) * 2;
    ASSERT_TRUE(WaitFor([&] {
      const std::int64_t units = sender->Statistics().fileUnits;
      // Reaching the target means both rounds have gone out, never earlier.
      if (units >= target && target > 0) {
        EXPECT_EQ(sender->Statistics().rounds, 2);
      }
      return units >= target && sender->Finished();
    }));
    EXPECT_EQ(sender->Statistics().fileUnits, target);
    EXPECT_EQ(sender->Statistics().rounds, 2);
    ++expected;
    ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == expected; }));
    EXPECT_EQ(ReadFile(download.path() / name), content);
    EXPECT_EQ(events.All().back().sha256, DigestOf(content));
  }
  const std::vector<ReceiverEvent> all = events.All();
  ASSERT_EQ(all.size(), 12u);
  for (std::size_t i = 0; i < all.size(); i += 2) {
    EXPECT_EQ(all[i].code, FCASTRE_FILE_START);
    EXPECT_EQ(all[i + 1].code, FCASTRE_FILE_COMPLETE);
    EXPECT_EQ(all[i].name, all[i + 1].name);
    EXPECT_EQ(all[i].fileId, all[i + 1].fileId);
  }
  // Nothing but the files: no temporary file is left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(download.path()),
                          std::filesystem::directory_iterator()),
            6);
}

TEST(FcastTransfer, AReceiverThatJoinsLateStillCompletes) {
  TempDir source;
  TempDir download;
  const std::string content = RandomBytes(2 << 20, 9);
  WriteFile(source.path() / "late.bin", content);
  // Two rounds of 2 MiB at 4 MB/s: about a second; the receiver starts at 40% of it.
  auto sender = MakeSender(1712, 2, 4'000'000);
  ASSERT_TRUE(sender);
  const Status sending = sender->SendFile(source.File("late.bin"));
  ASSERT_TRUE(sending.ok()) << sending.message();
  const std::int64_t total = static_cast<std::int64_t>(content.size() / 1024) * 2;
  ASSERT_TRUE(WaitFor([&] { return sender->Statistics().fileUnits >= total * 4 / 10; }));
  Events events;
  auto receiver = MakeReceiver(1712, download.path().string(), events);
  ASSERT_TRUE(receiver);
  ASSERT_TRUE(sender->WaitFinished(std::chrono::seconds(20)));
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  EXPECT_EQ(ReadFile(download.path() / "late.bin"), content);
}

TEST(FcastTransfer, LossIsRepairedFromLaterRounds) {
  // One datagram in five dropped on the way in, by the namespace's own firewall.
  if (std::system("nft add table inet fcast_loss && nft add chain inet fcast_loss in "
                  "'{ type filter hook input priority 0; }' && nft add rule inet fcast_loss in "
                  "udp dport 1713 numgen random mod 100 '<' 20 drop") != 0) {
    GTEST_SKIP() << "nft is not usable here";
  }
  TempDir source;
  TempDir download;
  const std::string content = RandomBytes(3 << 20, 4);
  WriteFile(source.path() / "lossy.bin", content);
  Events events;
  auto receiver = MakeReceiver(1713, download.path().string(), events);
  auto sender = MakeSender(1713, 2, 20'000'000);
  ASSERT_TRUE(receiver && sender);
  const Status sending = sender->SendFile(source.File("lossy.bin"));
  ASSERT_TRUE(sending.ok()) << sending.message();
  ASSERT_TRUE(sender->WaitFinished(std::chrono::seconds(20)));
  EXPECT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  EXPECT_EQ(ReadFile(download.path() / "lossy.bin"), content);
  EXPECT_EQ(std::system("nft delete table inet fcast_loss"), 0);
}

TEST(FcastTransfer, HostilePacketsNeitherCrashTheReceiverNorWriteOutsideItsFolder) {
  TempDir root;
  const std::filesystem::path download = root.path() / "download";
  Events events;
  auto receiver = MakeReceiver(1714, download.string(), events);
  ASSERT_TRUE(receiver);
  GroupSender out(1714);
  const auto send = [&](const std::vector<std::uint8_t>& bytes) { out.Send(bytes); };
  std::mt19937 rng(1);
  std::vector<std::uint8_t> bytes;
  DescriptorPacket d;
  d.symbolSize = 16;
  d.sourceSymbols = 1;
  d.symbolIds = 2;
  // Names that try to leave the folder, each its own tiny file of one symbol.
  const std::vector<std::string> names = {"../x", "a/b", "/etc/evil", "..", "\x01\x02"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    d.fileId = static_cast<std::uint32_t>(100 + i);
    d.fileSize = 16;
    const std::string text(16, static_cast<char>('A' + i));
    const std::vector<std::uint8_t> data(text.begin(), text.end());
    d.sha256 = DigestOf(text);
    d.name = names[i];
    EncodeDescriptor(d, bytes);
    send(bytes);
    // Out-of-range block, wrong length, bad CRC; then the real symbol.
    EncodeSymbol(d.fileId, 7, 0, data, bytes);
    send(bytes);
    EncodeSymbol(d.fileId, 0, 0, std::vector<std::uint8_t>(17), bytes);
    send(bytes);
    EncodeSymbol(d.fileId, 0, 0, data, bytes);
    bytes.back() ^= 1;
    send(bytes);
    EncodeSymbol(d.fileId, 0, 0, data, bytes);
    send(bytes);
  }
  // Blocks larger than the code has, an absurd size, and random junk.
  d.fileId = 998;
  d.fileSize = 1448 * 129;
  d.symbolSize = 1448;
  d.sourceSymbols = 254;
  d.symbolIds = 255;
  d.name = "wide";
  EncodeDescriptor(d, bytes);
  send(bytes);
  d.fileId = 999;
  d.fileSize =
      (FileLayout::kMaxBlocks - 1) * 128 * 1448;  // within the block limit, beyond the disk
  d.sourceSymbols = 128;
  d.name = "huge";
  EncodeDescriptor(d, bytes);
  send(bytes);
  // In batches the receiver takes in before the next: a burst larger than the socket's buffer
  // would be dropped by the system, not by the parser under test.
  for (int batch = 0; batch < 10; ++batch) {
    const auto before = receiver->Statistics().rejected;
    for (int i = 0; i < 20; ++i) {
      std::vector<std::uint8_t> junk(rng() % 1500);
      for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
      send(junk);
    }
    WaitFor([&] { return receiver->Statistics().rejected >= before + 15; },
            std::chrono::seconds(2));
  }
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 5; }));
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_ERROR) == 1; }));
  EXPECT_EQ(events.All().back().error, kFcastErrorDiskSpace);

  // Two small files cut into the most blocks a descriptor may ask for: the second does not fit
  // beside the first in the receiver's block budget and is not started while the first is busy.
  const auto describeTiny = [&](std::uint32_t id, std::uint64_t size) {
    d.fileId = id;
    d.fileSize = size;
    d.symbolSize = 16;
    d.sourceSymbols = 1;
    d.symbolIds = 255;
    d.name = "tiny" + std::to_string(id);
    d.sha256 = DigestOf("");
    EncodeDescriptor(d, bytes);
    send(bytes);
  };
  const std::uint64_t half = FileLayout::kMaxBlocks / 2 + 1;
  describeTiny(500, half * 16);
  describeTiny(501, half * 16);
  describeTiny(502, 0);  // an empty file completes at once: the two above were handled
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 6; }));
  std::vector<std::uint32_t> started;
  for (const ReceiverEvent& event : events.All()) {
    if (event.code == FCASTRE_FILE_START) started.push_back(event.fileId);
  }
  EXPECT_NE(std::find(started.begin(), started.end(), 500u), started.end());
  EXPECT_EQ(std::find(started.begin(), started.end(), 501u), started.end());
  EXPECT_EQ(std::find(started.begin(), started.end(), 998u), started.end());  // blocks too wide
  // The stored files, and the temporary file of the one in progress.
  std::vector<std::string> stored;
  for (const auto& entry : std::filesystem::directory_iterator(download)) {
    const std::string name = entry.path().filename().string();
    stored.push_back(name.rfind(".fcast-", 0) == 0 ? ".fcast-" : name);
  }
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::string>{".fcast-", "b", "evil", "fcast-00000067",
                                              "fcast-00000068", "tiny502", "x"}));
  // The folder's parent holds only the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_GE(receiver->Statistics().rejected, 5 + 150);
}

TEST(FcastTransfer, SymbolsThatComeBeforeTheirFilesDescriptorStillCount) {
  // A receiver that missed a file's first descriptor keeps what it hears meanwhile: here every
  // symbol of the file comes before the only descriptor, among symbols of a file never
  // described, and the file completes from them.
  TempDir root;
  Events events;
  auto receiver = MakeReceiver(1715, root.path().string(), events);
  ASSERT_TRUE(receiver);
  GroupSender out(1715);
  std::vector<std::uint8_t> bytes;
  const auto send = [&] { out.Send(bytes); };
  const std::string content = RandomBytes(40, 9);
  const std::vector<std::uint8_t> padded = Padded(content, 16);
  for (std::uint16_t id = 0; id < 3; ++id) {
    EncodeSymbol(77, 0, id, std::span(padded).subspan(id * 16u, 16), bytes);
    send();
    EncodeSymbol(78, 0, id, std::vector<std::uint8_t>(16, 1), bytes);
    send();
  }
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 6; }));
  DescriptorPacket d;
  d.fileId = 77;
  d.fileSize = content.size();
  d.symbolSize = 16;
  d.sourceSymbols = 3;
  d.symbolIds = 6;
  d.sha256 = DigestOf(content);
  d.name = "early.bin";
  EncodeDescriptor(d, bytes);
  send();
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  EXPECT_EQ(ReadFile(root.path() / "early.bin"), content);
}

TEST(FcastTransfer, AWholeFileWaitsForTheDigestThatTheSenderHadNotYetSent) {
  // The sender starts before it has hashed the file: its first descriptors carry no digest,
  // and a file that is whole by then (here a 40-byte file, and an empty one) is finished only
  // once a descriptor with the digest comes.
  TempDir root;
  Events events;
  auto receiver = MakeReceiver(1716, root.path().string(), events);
  ASSERT_TRUE(receiver);
  GroupSender out(1716);
  std::vector<std::uint8_t> bytes;
  const auto send = [&] { out.Send(bytes); };
  const std::string content = RandomBytes(40, 10);
  const std::vector<std::uint8_t> padded = Padded(content, 16);
  const auto describe = [&](std::uint32_t fileId, const std::string& text,
                            std::optional<Sha256Digest> digest) {
    DescriptorPacket d;
    d.fileId = fileId;
    d.fileSize = text.size();
    d.symbolSize = 16;
    d.sourceSymbols = 3;
    d.symbolIds = 6;
    d.sha256 = digest;
    d.name = "file" + std::to_string(fileId);
    EncodeDescriptor(d, bytes);
    send();
  };
  describe(80, content, std::nullopt);
  describe(81, "", std::nullopt);
  for (std::uint16_t id = 0; id < 3; ++id) {
    EncodeSymbol(80, 0, id, std::span(padded).subspan(id * 16u, 16), bytes);
    send();
  }
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 5; }));
  describe(80, content, std::nullopt);
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 6; }));
  EXPECT_EQ(events.Count(FCASTRE_FILE_START), 2);
  EXPECT_EQ(events.Count(FCASTRE_FILE_COMPLETE), 0);

  describe(80, content, DigestOf(content));
  describe(81, "", DigestOf(""));
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 2; }));
  EXPECT_EQ(events.All().back().sha256, DigestOf(""));
  EXPECT_EQ(ReadFile(root.path() / "file80"), content);
  EXPECT_EQ(ReadFile(root.path() / "file81"), "");
  EXPECT_EQ(events.Count(FCASTRE_ERROR), 0);
}

// Forged descriptors of files that never come, and forged files kept alive by a trickle of
// datagrams: what they cost a receiver, and that genuine files still get through.

// The process's resident memory.
std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0;
  std::int64_t resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

DescriptorPacket Forged(std::uint32_t fileId, std::uint64_t fileSize, std::uint16_t symbolSize,
                        std::uint16_t k) {
  DescriptorPacket d;
  d.fileId = fileId;
  d.fileSize = fileSize;
  d.symbolSize = symbolSize;
  d.sourceSymbols = k;
  d.symbolIds = 255;
  d.sha256 = Sha256Digest{};
  d.name = "forged" + std::to_string(fileId);
  return d;
}

TEST(FcastReceiverLimits, ForgedDescriptorsOfHugeFilesCostTheReceiverLittleMemory) {
  TempDir root;
  Events events;
  // Each forged file stalls at once and makes way for the next.
  auto receiver = MakeReceiver(1717, root.path().string(), events, std::chrono::milliseconds(100));
  ASSERT_TRUE(receiver);
  GroupSender out(1717);
  std::vector<std::uint8_t> bytes;
  const std::int64_t residentBefore = ResidentBytes();
  std::int64_t mostHeld = 0;
  for (std::uint32_t i = 0; i < 8; ++i) {
    // Refused: more blocks than a receiver takes, then more than the disk holds.
    EncodeDescriptor(Forged(0xF000 + i, kMaxFileSize, 1448, 128), bytes);
    out.Send(bytes);
    EncodeDescriptor(Forged(0xF100 + i, (FileLayout::kMaxBlocks - 1) * 128 * 1448, 1448, 128),
                     bytes);
    out.Send(bytes);
    // Started: the most blocks a file may have, each of one 16-byte symbol, and one symbol.
    EncodeDescriptor(Forged(0xF200 + i, FileLayout::kMaxBlocks * 16, 16, 1), bytes);
    out.Send(bytes);
    ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_START) == int(i) + 1; }));
    EncodeSymbol(0xF200 + i, i * 1000, 0, std::vector<std::uint8_t>(16, 1), bytes);
    out.Send(bytes);
    ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 4 * (i + 1); }));
    mostHeld = std::max(mostHeld, receiver->Statistics().heldBytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  // A million blocks' directory and one chunk of block state, not a million blocks' state.
  EXPECT_LT(mostHeld, 1 << 20);
  EXPECT_LT(ResidentBytes() - residentBefore, std::int64_t{16} << 20);
  EXPECT_EQ(events.Count(FCASTRE_FILE_START), 8);
}

TEST(FcastReceiverLimits, StalledForgedFilesMakeWayForAGenuineFile) {
  TempDir source;
  TempDir download;
  Events events;
  auto receiver =
      MakeReceiver(1718, download.path().string(), events, std::chrono::milliseconds(1000));
  ASSERT_TRUE(receiver);
  GroupSender out(1718);
  std::vector<std::uint8_t> bytes;
  // Eight forged files hold every slot; each gets its descriptor and a symbol again every
  // second, one of them new.
  const auto trickle = [&](std::uint16_t tick) {
    for (std::uint32_t i = 0; i < 8; ++i) {
      EncodeDescriptor(Forged(0xE000 + i, 1 << 20, 1024, 64), bytes);
      out.Send(bytes);
      EncodeSymbol(0xE000 + i, 0, tick, std::vector<std::uint8_t>(1024, 2), bytes);
      out.Send(bytes);
    }
  };
  trickle(0);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_START) == 8; }));
  const std::string content = RandomBytes(300'000, 12);
  WriteFile(source.path() / "genuine.bin", content);
  auto sender = MakeSender(1718, 0, 2'000'000);
  ASSERT_TRUE(sender);
  ASSERT_TRUE(sender->SendFile(source.File("genuine.bin")).ok());
  const auto start = std::chrono::steady_clock::now();
  for (std::uint16_t tick = 1; tick < 8 && events.Count(FCASTRE_FILE_COMPLETE) == 0; ++tick) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    trickle(tick);
  }
  ASSERT_TRUE(
      WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }, std::chrono::seconds(1)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(ReadFile(download.path() / "genuine.bin"), content);
  EXPECT_EQ(events.All().back().fileId, events.All()[events.All().size() - 2].fileId);
  sender->Stop();
}

TEST(FcastReceiverLimits, AStalledForgedFileGivesBackTheDiskSpaceItWasPromised) {
  TempDir source;
  TempDir download;
  Events events;
  auto receiver =
      MakeReceiver(1719, download.path().string(), events, std::chrono::milliseconds(1000));
  ASSERT_TRUE(receiver);
  GroupSender out(1719);
  std::vector<std::uint8_t> bytes;
  // A forged file promised all but half of a genuine file's footprint of the free space: the
  // genuine file fits only once the forged one gives its reservation back. The free space
  // moves with what else runs on the disk: a forged file refused is tried again.
  const std::string content = RandomBytes(2 << 20, 13);
  for (std::uint32_t attempt = 0; events.Count(FCASTRE_FILE_START) == 0; ++attempt) {
    ASSERT_LT(attempt, 3u);
    const std::optional<std::uint64_t> available = IncomingFile::FreeSpace(download.path());
    ASSERT_TRUE(available && *available > content.size());
    EncodeDescriptor(Forged(0xD000 + attempt, *available - content.size() / 2, 1448, 128), bytes);
    out.Send(bytes);
    WaitFor([&] { return !events.All().empty(); }, std::chrono::seconds(2));
  }
  WriteFile(source.path() / "genuine.bin", content);
  auto sender = MakeSender(1719, 0, 20'000'000);
  ASSERT_TRUE(sender);
  ASSERT_TRUE(sender->SendFile(source.File("genuine.bin")).ok());
  ASSERT_TRUE(
      WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }, std::chrono::seconds(5)));
  EXPECT_EQ(ReadFile(download.path() / "genuine.bin"), content);
  sender->Stop();
}

}  // namespace
}  // namespace ondavox::fcast
