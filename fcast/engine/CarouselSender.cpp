#include "fcast/engine/CarouselSender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <vector>

#include "fcast/engine/CarouselWindow.h"
#include "fcast/engine/DatagramBatch.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/MulticastSocket.h"
#include "fcast/engine/Pacer.h"
#include "fcast/engine/Sha256.h"

namespace ondavox::fcast {
namespace {

constexpr std::uint64_t kMinPacketsPerRound = 32;
constexpr std::uint64_t kDescriptorBurst = 8;
constexpr int kMaxBatch = 64;
constexpr auto kDescriptorPeriod = std::chrono::seconds(1);
constexpr int kMaxK = 128;
constexpr int kMinK = 32;
// Blocks whose group symbols a repair turn pools. Simulated for 128 MiB at 5% and 20% loss
// (slowest of 3 receivers, in rounds): 1 (no groups) 1.145 and 1.465; 4: 1.09 and 1.33; 8:
// 1.08 and 1.30. Pooling more blocks gains little and costs the receiver more: it solves a
// group's missing symbols together, a system as wide as their number.
constexpr int kGroupBlocks = 4;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             Pacer::Clock::now().time_since_epoch())
      .count();
}

std::uint32_t RandomFileId() {
  std::random_device device;
  std::uint32_t id = 0;
  while (id == 0) id = device();
  return id;
}

// 1024-byte units counted for |done| of the |total| datagrams of a round of |units| units:
// never the whole round, which counts only once its last datagram has gone out.
std::int64_t UnitsInto(std::int64_t units, std::uint64_t done, std::uint64_t total) {
  if (units == 0 || total == 0) return 0;
  const auto value = static_cast<std::int64_t>(static_cast<long double>(units) * done / total);
  return std::min(value, units - 1);
}

}  // namespace

int CarouselSender::ChooseK(int plannedRounds) {
  const int rounds = std::max(plannedRounds, 1);
  return std::clamp(kMaxSymbolsPerBlock / rounds, kMinK, kMaxK);
}

std::unique_ptr<CarouselSender> CarouselSender::Create(const SenderOptions& options,
                                                       std::string* error) {
  if (options.rateBytesPerSecond <= 0 || options.port == 0 || options.symbolSize < kMinSymbolSize ||
      options.symbolSize > kMaxSymbolSize) {
    if (error != nullptr) *error = "invalid rate, port or symbol size";
    return nullptr;
  }
  Socket socket =
      OpenSendSocket(options.group, options.port, options.interface, options.ttl, error);
  if (!socket.Valid()) return nullptr;
  return std::unique_ptr<CarouselSender>(new CarouselSender(options, std::move(socket)));
}

CarouselSender::CarouselSender(const SenderOptions& options, Socket socket)
    : options_(options), socket_(std::move(socket)) {}

CarouselSender::~CarouselSender() { Stop(); }

bool CarouselSender::SendFile(const std::string& path, std::string* error) {
  Stop();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > kMaxFileSize ||
      !FileLayout::Make(size, options_.symbolSize, ChooseK(options_.plannedRounds),
                        kMaxSymbolsPerBlock, kGroupBlocks)) {
    if (error != nullptr) *error = "file too large: " + path;
    ::close(fd);
    return false;
  }
  fileUnits_ = repairUnits_ = packets_ = rounds_ = bytes_ = firstSendNs_ = endNs_ = 0;
  finished_ = false;
  thread_ = std::thread(&CarouselSender::Run, this, fd, size,
                        std::filesystem::path(path).filename().string());
  return true;
}

void CarouselSender::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  stop_ = false;
}

SenderStatistics CarouselSender::Statistics() const {
  SenderStatistics s;
  s.fileUnits = fileUnits_.load();
  s.repairUnits = repairUnits_.load();
  s.packets = packets_.load();
  s.rounds = rounds_.load();
  s.bytes = bytes_.load();
  if (const std::int64_t first = firstSendNs_.load(); first != 0) {
    const std::int64_t end = endNs_.load();
    s.seconds = static_cast<double>((end != 0 ? end : NowNs()) - first) * 1e-9;
  }
  return s;
}

bool CarouselSender::WaitFinished(std::chrono::milliseconds timeout) {
  MutexLock lock(mu_);
  return finishedCv_.WaitFor(mu_, timeout, [this] { return finished_.load(); });
}

void CarouselSender::Run(int fd, std::uint64_t size, std::string name) {
  struct Finish {
    CarouselSender* self;
    int fd;
    ~Finish() {
      self->endNs_ = NowNs();
      ::close(fd);
      MutexLock lock(self->mu_);
      self->finished_ = true;
      self->finishedCv_.NotifyAll();
    }
  } finish{this, fd};

  // The file is hashed beside the first datagrams, on a thread of its own: a large file's
  // hash would otherwise hold back the whole transfer. Declared after |finish|, so that the
  // thread has ended before the file is closed.
  std::atomic<bool> abandonHash{false};
  std::future<std::optional<Sha256Digest>> hashing = std::async(
      std::launch::async, [fd, size, &abandonHash] { return HashFile(fd, size, &abandonHash); });
  struct AbandonHash {
    std::atomic<bool>& flag;
    ~AbandonHash() { flag = true; }
  } abandon{abandonHash};

  const std::uint32_t symbolSize = options_.symbolSize;
  const int chosenK = ChooseK(options_.plannedRounds);
  const FileLayout layout =
      *FileLayout::Make(size, symbolSize, chosenK, kMaxSymbolsPerBlock, kGroupBlocks);
  const std::uint32_t k = layout.K();

  DescriptorPacket descriptor;
  descriptor.fileId = RandomFileId();
  descriptor.fileSize = size;
  descriptor.symbolSize = static_cast<std::uint16_t>(symbolSize);
  descriptor.sourceSymbols = static_cast<std::uint16_t>(chosenK);
  descriptor.symbolIds = static_cast<std::uint16_t>(kMaxSymbolsPerBlock);
  descriptor.groupBlocks = static_cast<std::uint16_t>(kGroupBlocks);
  descriptor.name = name;
  std::vector<std::uint8_t> descriptorBytes;
  EncodeDescriptor(descriptor, descriptorBytes);
  // Puts the digest into the descriptor once the hash is done, or waits for it with |wait|.
  // False when the file could not be read or the transfer is stopped while waiting.
  const auto takeDigest = [&](bool wait) {
    if (descriptor.sha256) return true;
    const auto step = wait ? std::chrono::milliseconds(20) : std::chrono::milliseconds(0);
    while (hashing.wait_for(step) != std::future_status::ready) {
      if (!wait) return true;  // not yet: this descriptor goes without it
      if (stop_.load()) return false;
    }
    descriptor.sha256 = hashing.get();
    if (!descriptor.sha256) return false;
    EncodeDescriptor(descriptor, descriptorBytes);
    return true;
  };

  const std::uint64_t symbols = layout.SymbolCount();
  const std::uint32_t blocks = layout.BlockCount();
  // A small file is sent several times over within one round, each pass with fresh symbol
  // ids, so that a round is never a handful of packets that one loss burst wipes out.
  const std::uint64_t passes =
      symbols == 0 ? 1 : std::max<std::uint64_t>(1, (kMinPacketsPerRound + symbols - 1) / symbols);
  const std::uint64_t perRound = symbols * passes;
  const std::uint64_t descriptorEvery = std::clamp<std::uint64_t>(perRound / 4, 4, 128);
  const std::int64_t unitsPerRound = static_cast<std::int64_t>(size / 1024);

  CarouselWindow window(layout, std::max<std::uint32_t>(
                                    1, static_cast<std::uint32_t>(CarouselWindow::kWindowBytes /
                                                                  (std::size_t{symbolSize} * k))));
  Pacer pacer(options_.rateBytesPerSecond);
  DatagramBatch out(socket_.Fd(), pacer, pacer.BatchSize(kSymbolHeaderSize + symbolSize, kMaxBatch),
                    stop_);
  std::uint64_t sinceDescriptor = 0;
  auto lastDescriptor = Pacer::Clock::now();
  std::uint64_t sentInRound = 0;
  std::uint64_t repairPackets = 0;
  firstSendNs_ = NowNs();

  const auto count = [&](std::size_t length) {
    packets_.fetch_add(1, std::memory_order_relaxed);
    bytes_.fetch_add(static_cast<std::int64_t>(length), std::memory_order_relaxed);
  };
  const auto sendDescriptor = [&] {
    if (!takeDigest(false)) return false;
    std::memcpy(out.Next(), descriptorBytes.data(), descriptorBytes.size());
    sinceDescriptor = 0;
    lastDescriptor = Pacer::Clock::now();
    count(descriptorBytes.size());
    return out.Commit(descriptorBytes.size());
  };
  // Sends the symbol packet written into out.Next().
  const auto commitSymbol = [&](std::int64_t round, std::size_t length, bool repair) {
    if (!out.Commit(length)) return false;
    count(length);
    ++sentInRound;
    if (repair) ++repairPackets;
    fileUnits_.store(round * unitsPerRound + UnitsInto(unitsPerRound, sentInRound, perRound),
                     std::memory_order_relaxed);
    repairUnits_.store(static_cast<std::int64_t>(static_cast<long double>(unitsPerRound) *
                                                 repairPackets / perRound),
                       std::memory_order_relaxed);
    if (++sinceDescriptor >= descriptorEvery ||
        Pacer::Clock::now() - lastDescriptor >= kDescriptorPeriod) {
      return sendDescriptor();
    }
    return true;
  };
  const auto sendSymbol = [&](std::int64_t round, const CarouselWindow::Symbol& symbol) {
    return commitSymbol(
        round,
        EncodeSymbolInto(descriptor.fileId, symbol.block, symbol.id, symbol.data, out.Next()),
        symbol.repair);
  };
  const auto sendGroupSymbol = [&](std::int64_t round, const CarouselWindow::GroupSymbol& symbol) {
    return commitSymbol(round,
                        EncodeGroupSymbolInto(descriptor.fileId, symbol.group, symbol.id,
                                              symbol.combination, symbol.data, out.Next()),
                        true);
  };
  // The most group symbols a group sends in a repair turn.
  const std::uint32_t groupSymbols = CarouselWindow::GroupSymbols(kGroupBlocks, k);

  for (std::int64_t round = 0; options_.rounds == 0 || round < options_.rounds; ++round) {
    // An empty file is all descriptor: a round repeats it, so that one lost datagram does
    // not lose the round.
    for (std::uint64_t i = 0; i < (symbols == 0 ? kDescriptorBurst : 1); ++i) {
      if (!sendDescriptor()) return;
    }
    sentInRound = 0;
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
      const std::uint64_t turn = static_cast<std::uint64_t>(round) * passes + pass;
      const std::uint32_t own = turn == 0 ? k : std::min(k, CarouselWindow::kOwnPositions);
      for (std::uint32_t from = 0; from < own; from = CarouselWindow::SweepEnd(from, own)) {
        const std::uint32_t to = CarouselWindow::SweepEnd(from, own);
        for (std::uint32_t first = 0; first < blocks; first += window.Capacity()) {
          if (!window.Load(fd, first, turn, from, to)) return;  // the file shrank or failed
          // Position j of every block of the window, then j + 1.
          window.Encode(turn, from, to);
          for (std::uint32_t j = from; j < to; ++j) {
            for (std::uint32_t i = 0; i < window.Capacity(); ++i) {
              const std::optional<CarouselWindow::Symbol> symbol = window.At(turn, i, j);
              if (symbol && !sendSymbol(round, *symbol)) return;
            }
          }
        }
      }
      if (turn == 0) continue;
      // The group symbols, also in sweeps over the whole file.
      for (std::uint32_t from = 0; from < groupSymbols;
           from = CarouselWindow::GroupSweepEnd(from, groupSymbols)) {
        const std::uint32_t to = CarouselWindow::GroupSweepEnd(from, groupSymbols);
        for (std::uint32_t first = 0; first < layout.GroupCount();
             first += window.GroupCapacity()) {
          if (!window.LoadGroups(fd, first)) return;
          window.EncodeGroups(turn, from, to);
          for (std::uint32_t s = from; s < to; ++s) {
            for (std::uint32_t i = 0; i < window.GroupCapacity(); ++i) {
              const std::optional<CarouselWindow::GroupSymbol> symbol = window.GroupAt(turn, i, s);
              if (symbol && !sendGroupSymbol(round, *symbol)) return;
            }
          }
        }
      }
    }
    // No round ends before the digest has gone out, a few times over (this happens only to
    // a file whose round is shorter than its hash).
    if (!descriptor.sha256) {
      if (!takeDigest(true)) return;
      for (std::uint64_t i = 0; i < kDescriptorBurst; ++i) {
        if (!sendDescriptor()) return;
      }
    }
    if (!out.Flush()) return;
    // Rounds first: whoever sees the final unit count also sees the round counted.
    rounds_.store(round + 1);
    fileUnits_.store((round + 1) * unitsPerRound);
  }
}

}  // namespace ondavox::fcast
