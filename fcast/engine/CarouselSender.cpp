#include "fcast/engine/CarouselSender.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "fcast/engine/CarouselTransfer.h"
#include "fcast/engine/MulticastSocket.h"
#include "fcast/engine/Pacer.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {
namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             Pacer::Clock::now().time_since_epoch())
      .count();
}

}  // namespace

void SenderCounters::Reset() {
  fileUnits = repairUnits = packets = rounds = bytes = firstSendNs = endNs = 0;
}

void SenderCounters::CountDatagram(std::size_t length) {
  packets.fetch_add(1, std::memory_order_relaxed);
  bytes.fetch_add(static_cast<std::int64_t>(length), std::memory_order_relaxed);
}

void SenderCounters::MarkStart() { firstSendNs = NowNs(); }

void SenderCounters::MarkEnd() { endNs = NowNs(); }

SenderStatistics SenderCounters::Snapshot() const {
  SenderStatistics s;
  s.fileUnits = fileUnits.load();
  s.repairUnits = repairUnits.load();
  s.packets = packets.load();
  s.rounds = rounds.load();
  s.bytes = bytes.load();
  if (const std::int64_t first = firstSendNs.load(); first != 0) {
    const std::int64_t end = endNs.load();
    s.seconds = static_cast<double>((end != 0 ? end : NowNs()) - first) * 1e-9;
  }
  return s;
}

StatusOr<std::unique_ptr<CarouselSender>> CarouselSender::Create(const SenderOptions& options) {
  if (options.rateBytesPerSecond <= 0 || options.port == 0 || options.symbolSize < kMinSymbolSize ||
      options.symbolSize > kMaxSymbolSize) {
    return Status::InvalidArgument("invalid rate, port or symbol size");
  }
  std::optional<Ed25519Key> signingKey;
  if (!options.signingSeed.empty()) {
    StatusOr<Ed25519Key> key = Ed25519Key::FromSeed(options.signingSeed);
    if (!key.ok()) return key.status();
    signingKey = std::move(*key);
  }
  StatusOr<Socket> socket =
      OpenSendSocket(options.group, options.port, options.interface, options.ttl);
  if (!socket.ok()) return socket.status();
  return std::unique_ptr<CarouselSender>(
      new CarouselSender(options, std::move(*socket), std::move(signingKey)));
}

CarouselSender::CarouselSender(const SenderOptions& options, Socket socket,
                               std::optional<Ed25519Key> signingKey)
    : options_(options), socket_(std::move(socket)), signingKey_(std::move(signingKey)) {}

CarouselSender::~CarouselSender() { Stop(); }

Status CarouselSender::SendFile(const std::string& path) {
  Stop();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!file.Valid() || ::fstat(file.Get(), &info) != 0) {
    return PosixError("cannot open " + path, errno);
  }
  if (!S_ISREG(info.st_mode)) return Status::IoError("cannot open " + path + ": not a file");
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (!CarouselTransfer::Layout(size, options_)) {
    return Status::InvalidArgument("file too large: " + path);
  }
  counters_.Reset();
  finished_ = false;
  transfer_ = std::make_unique<CarouselTransfer>(options_, socket_.Fd(), std::move(file), size,
                                                 std::filesystem::path(path).filename().string(),
                                                 signingKey_ ? &*signingKey_ : nullptr, counters_);
  thread_ = std::thread(&CarouselSender::Run, this, transfer_.get());
  return Status();
}

void CarouselSender::Stop() {
  if (!thread_.joinable()) return;
  transfer_->Stop();
  thread_.join();
  transfer_.reset();
}

bool CarouselSender::WaitFinished(std::chrono::milliseconds timeout) {
  MutexLock lock(mu_);
  return finishedCv_.WaitFor(mu_, timeout, [this] { return finished_.load(); });
}

void CarouselSender::Run(CarouselTransfer* transfer) {
  transfer->Run();
  counters_.MarkEnd();
  MutexLock lock(mu_);
  finished_ = true;
  finishedCv_.NotifyAll();
}

}  // namespace ondavox::fcast
