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
#include "fcast/engine/FileDigest.h"
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
  // The FCASTRE_ERROR events of |error|.
  std::vector<ReceiverEvent> Errors(long error) {
    std::vector<ReceiverEvent> errors;
    for (const ReceiverEvent& event : All()) {
      if (event.code == FCASTRE_ERROR && event.error == error) errors.push_back(event);
    }
    return errors;
  }

 private:
  Mutex mu_;
  std::vector<ReceiverEvent> events_ GUARDED_BY(mu_);
};

// The digest a descriptor carries for |content| cut into symbols of |symbolSize| in blocks of
// at most |k|.
Sha256Digest DigestOf(const std::string& content, std::uint16_t symbolSize, std::uint16_t k) {
  return DigestBytes({reinterpret_cast<const std::uint8_t*>(content.data()), content.size()},
                     *FileLayout::Make(content.size(), symbolSize, k));
}

// |content| as the sender cuts it: its bytes, zero-padded to whole symbols of |symbolSize|.
std::vector<std::uint8_t> Padded(const std::string& content, std::size_t symbolSize) {
  std::vector<std::uint8_t> bytes(content.begin(), content.end());
  bytes.resize((content.size() + symbolSize - 1) / symbolSize * symbolSize, 0);
  return bytes;
}

std::unique_ptr<CarouselReceiver> MakeReceiver(
    std::uint16_t port, const std::string& folder, Events& events,
    std::chrono::milliseconds stallTime = std::chrono::seconds(5), ReceiverOptions options = {}) {
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

// Sends hand-made datagrams to the test group on one port, as a forged sender would, from the
// loopback address |from| when given.
class GroupSender {
 public:
  explicit GroupSender(std::uint16_t port, const char* from = nullptr)
      : to_(*Ipv4Endpoint::Parse(kGroup, port)) {
    if (from != nullptr) {
      const Ipv4Endpoint local = *Ipv4Endpoint::Parse(from, 0);
      EXPECT_EQ(::bind(socket_.Fd(), local.Get(), Ipv4Endpoint::Size()), 0);
    }
  }
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
    EXPECT_EQ(events.All().back().sha256, DigestOf(content, kDefaultSymbolSize, 16384));
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
  // Names that try to leave the folder, each its own tiny file of one symbol.
  const std::vector<std::string> names = {"../x", "a/b", "/etc/evil", "..", "\x01\x02"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    d.fileId = static_cast<std::uint32_t>(100 + i);
    d.fileSize = 16;
    const std::string text(16, static_cast<char>('A' + i));
    const std::vector<std::uint8_t> data(text.begin(), text.end());
    d.sha256 = DigestOf(text, 16, 1);
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
  d.sourceSymbols = 16385;
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
    d.name = "tiny" + std::to_string(id);
    d.sha256 = DigestOf("", 16, 1);
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
  d.sha256 = DigestOf(content, 16, 3);
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

  describe(80, content, DigestOf(content, 16, 3));
  describe(81, "", DigestOf("", 16, 3));
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 2; }));
  EXPECT_EQ(events.All().back().sha256, DigestOf("", 16, 3));
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
    // A symbol of 1448 bytes takes 1464 on disk while it is received, with its digest (and a
    // block of 16384 symbols 32 bytes more).
    const std::uint64_t forged = (*available - content.size() / 2) / 1465 * 1448;
    EncodeDescriptor(Forged(0xD000 + attempt, forged, 1448, 16384), bytes);
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

// Signed descriptors, the trusted key and the source filter; the backup of a replaced file.

Ed25519Key KeyOf(std::uint8_t fill) {
  return std::move(*Ed25519Key::FromSeed(std::vector<std::uint8_t>(kEd25519SeedSize, fill)));
}

// A file of a few 16-byte symbols sent by hand: its descriptor, signed with |key| unless null,
// and its first |count| source symbols.
struct TinyFile {
  TinyFile(std::uint32_t fileId, const std::string& name, const std::string& content)
      : padded(Padded(content, 16)) {
    descriptor = {fileId,
                  content.size(),
                  16,
                  static_cast<std::uint16_t>(padded.size() / 16),
                  DigestOf(content, 16, static_cast<std::uint16_t>(padded.size() / 16)),
                  name,
                  std::nullopt};
  }
  void Send(GroupSender& out, const Ed25519Key* key = nullptr, std::size_t count = 255) const {
    std::vector<std::uint8_t> bytes;
    key ? EncodeSignedDescriptor(descriptor, *key, bytes) : EncodeDescriptor(descriptor, bytes);
    out.Send(bytes);
    for (std::size_t i = 0; i < std::min(count, padded.size() / 16); ++i) {
      EncodeSymbol(descriptor.fileId, 0, static_cast<std::uint16_t>(i),
                   std::span(padded).subspan(i * 16, 16), bytes);
      out.Send(bytes);
    }
  }
  DescriptorPacket descriptor;
  std::vector<std::uint8_t> padded;
};

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FcastTrust, DescriptorsTheTrustedKeyDidNotSignGetNothingAndTheGenuineFileStillComes) {
  TempDir download;
  Events events;
  auto receiver = MakeReceiver(1720, download.path().string(), events);
  ASSERT_TRUE(receiver);
  const Ed25519Key trusted = KeyOf(1);
  ASSERT_TRUE(receiver->SetTrustedKey(trusted.PublicKey()).ok());
  GroupSender out(1720);
  const std::string content = RandomBytes(40, 20);
  // Unsigned, signed by another key, and signed but its name changed (and the CRC made right);
  // each twice.
  TinyFile unsignedFile(90, "../unsigned.exe", content);
  TinyFile otherKey(91, "other.exe", content);
  TinyFile tampered(92, "tampered.exe", content);
  std::vector<std::uint8_t> tamperedBytes;
  EncodeSignedDescriptor(tampered.descriptor, trusted, tamperedBytes);
  tamperedBytes[kDescriptorFixedSize] = 'T';
  std::fill(tamperedBytes.begin() + 12, tamperedBytes.begin() + 16, 0);
  const std::uint32_t crc = Crc32c(tamperedBytes);
  for (int i = 0; i < 4; ++i)
    tamperedBytes[12 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  const Ed25519Key other = KeyOf(2);
  for (int repeat = 0; repeat < 2; ++repeat) {
    unsignedFile.Send(out);
    otherKey.Send(out, &other);
    out.Send(tamperedBytes);
  }
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 2 * (4 + 4 + 1); }));
  // A forged descriptor with the id of the genuine file, first.
  TinyFile genuine(93, "genuine.bin", content);
  TinyFile copiedId(93, "forged.bin", content);
  copiedId.Send(out, nullptr, 0);
  genuine.Send(out, &trusted);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  EXPECT_EQ(ReadFile(download.path() / "genuine.bin"), content);

  std::vector<std::pair<std::uint32_t, std::string>> refused;
  for (const ReceiverEvent& event : events.Errors(kFcastErrorUnauthenticated)) {
    refused.emplace_back(event.fileId, event.name);
  }
  EXPECT_EQ(
      refused,
      (std::vector<std::pair<std::uint32_t, std::string>>{
          {90, "unsigned.exe"}, {91, "other.exe"}, {92, "Tampered.exe"}, {93, "forged.bin"}}));
  EXPECT_EQ(events.All().size(), 4u + 2u);  // the refusals, the genuine file's start and end
  EXPECT_EQ(FolderNames(download.path()), std::vector<std::string>{"genuine.bin"});
}

TEST(FcastTrust, AKeySetAfterTheStartTakesDigestsAndNamesOnlyFromWhatItSigned) {
  TempDir download;
  Events events;
  auto receiver = MakeReceiver(1721, download.path().string(), events);
  ASSERT_TRUE(receiver);
  GroupSender out(1721);
  const Ed25519Key trusted = KeyOf(3);
  // Two files start before the key is known: one with a forged digest and a symbol short,
  // under the name the key will sign; one whole but for its digest, under another name.
  const std::string content = RandomBytes(40, 23);
  TinyFile kept(95, "kept.bin", content);
  TinyFile renamed(96, "evil.bin", content);
  kept.descriptor.sha256 = DigestOf("forged", 16, 1);
  kept.Send(out, nullptr, 2);
  renamed.descriptor.sha256.reset();
  renamed.Send(out);
  kept.descriptor.sha256 = renamed.descriptor.sha256 =
      DigestOf(content, 16, kept.descriptor.sourceSymbols);
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 7; }));
  ASSERT_EQ(events.Count(FCASTRE_FILE_START), 2);
  ASSERT_TRUE(receiver->SetTrustedKey(trusted.PublicKey()).ok());
  // Made whole once the key holds: the forged digest is forgotten, and one in an unsigned
  // descriptor does not count.
  kept.Send(out);
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().datagrams == 11; }));
  ASSERT_EQ(events.Errors(kFcastErrorUnauthenticated).size(), 1u);
  EXPECT_EQ(events.Count(FCASTRE_FILE_COMPLETE), 0);
  EXPECT_EQ(events.Count(FCASTRE_ERROR), 1);  // no checksum error
  // Signed, it does; the file signed under another name starts over under that name.
  kept.Send(out, &trusted, 0);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  renamed.descriptor.name = "good.bin";
  renamed.Send(out, &trusted);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 2; }));
  EXPECT_EQ(FolderNames(download.path()), (std::vector<std::string>{"good.bin", "kept.bin"}));
  EXPECT_EQ(ReadFile(download.path() / "kept.bin"), content);
  EXPECT_EQ(events.Errors(kFcastErrorUnauthenticated).back().name, "evil.bin");
}

TEST(FcastTrust, DatagramsFromAnotherAddressThanTheSourceAreDroppedAndReportedOnce) {
  TempDir download;
  Events events;
  ReceiverOptions options;
  options.source = "127.0.0.1";
  auto receiver =
      MakeReceiver(1722, download.path().string(), events, std::chrono::seconds(5), options);
  ASSERT_TRUE(receiver);
  GroupSender stray(1722, "127.0.0.2");
  GroupSender genuine(1722, "127.0.0.1");
  TinyFile strayFile(97, "stray.bin", RandomBytes(40, 24));
  for (int repeat = 0; repeat < 3; ++repeat) strayFile.Send(stray);
  ASSERT_TRUE(WaitFor([&] { return receiver->Statistics().stray == 12; }));
  TinyFile genuineFile(98, "genuine.bin", RandomBytes(40, 25));
  genuineFile.Send(genuine);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 1; }));
  const auto strays = events.Errors(kFcastErrorStraySource);
  ASSERT_EQ(strays.size(), 1u);
  EXPECT_EQ(strays[0].name, "127.0.0.2");
  EXPECT_EQ(receiver->Statistics().datagrams, 4);  // the stray ones were not read
  EXPECT_EQ(events.Count(FCASTRE_FILE_START), 1);
  // Changed while running: the other address is now the one read.
  EXPECT_FALSE(receiver->SetSource("127.0.0").ok());
  ASSERT_TRUE(receiver->SetSource("127.0.0.2").ok());
  strayFile.Send(stray);
  ASSERT_TRUE(WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == 2; }));
}

TEST(FcastBackup, ADifferentFileOfTheSameNameIsKeptWithATildeAndAnIdenticalOneIsNot) {
  TempDir download;
  Events events;
  auto receiver = MakeReceiver(1723, download.path().string(), events);
  ASSERT_TRUE(receiver);
  GroupSender out(1723);
  std::uint32_t fileId = 100;
  const auto receive = [&](const std::string& content) {
    const int completed = events.Count(FCASTRE_FILE_COMPLETE);
    TinyFile(fileId++, "song.bin", content).Send(out);
    return WaitFor([&] { return events.Count(FCASTRE_FILE_COMPLETE) == completed + 1; });
  };
  // Same size, different bytes: only a comparison of the bytes tells them apart.
  const std::string first = RandomBytes(40, 26);
  const std::string second = RandomBytes(40, 27);
  ASSERT_TRUE(receive(first));
  ASSERT_TRUE(receive(second));
  const std::vector<ReceiverEvent> all = events.All();
  EXPECT_EQ(all[all.size() - 2].code, FCASTRE_FILE_REPLACED);
  EXPECT_EQ(all[all.size() - 2].name, "song.bin");
  EXPECT_EQ(ReadFile(download.path() / "song.bin~"), first);
  // The same bytes again: nothing kept, the backup stays; a third version replaces it.
  ASSERT_TRUE(receive(second));
  EXPECT_EQ(ReadFile(download.path() / "song.bin~"), first);
  ASSERT_TRUE(receive(RandomBytes(1000, 28)));
  EXPECT_EQ(ReadFile(download.path() / "song.bin~"), second);
  // A folder of the backup's name is left alone, and the file replaced unkept.
  std::filesystem::remove(download.path() / "song.bin~");
  std::filesystem::create_directory(download.path() / "song.bin~");
  ASSERT_TRUE(receive(first));
  EXPECT_EQ(ReadFile(download.path() / "song.bin"), first);
  EXPECT_EQ(events.Count(FCASTRE_FILE_REPLACED), 2);
}

}  // namespace
}  // namespace ondavox::fcast
