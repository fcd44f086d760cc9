#include "fcast/engine/CarouselReceiver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/FcastComponent.h"
#include "fcast/engine/FileName.h"
#include "fcast/engine/MulticastSocket.h"
#include "fcast/engine/ReceiveBatch.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"

namespace ondavox::fcast {
namespace {

constexpr int kBatch = 64;
// Datagrams read while a block is rebuilt: 40 ms at 1 Gbit/s.
constexpr std::size_t kBacklogBytes = std::size_t{4} << 20;
constexpr std::size_t kMaxActiveFiles = 8;
constexpr std::size_t kRememberedIds = 1024;
// Symbols kept while their file's descriptor is awaited: more than a sender sends between two
// descriptors, and a few MiB at most.
constexpr std::size_t kEarlySymbols = 2048;
// Descriptor datagrams whose signature check is remembered: the two a sender sends of each
// file (before and after its digest is known) for every file in progress, with room to spare.
constexpr std::size_t kRememberedVerdicts = 32;
constexpr std::size_t kRememberedStraySources = 256;
// A receiver that has caught up gathers about this many datagrams before it wakes again, for
// at most kMaxGather: a small part of any socket buffer, at any rate.
constexpr int kGatherDatagrams = 16;
constexpr std::chrono::microseconds kMaxGather{1000};

// How long a receiver that read |read| datagrams, |since| after it last woke, waits before it
// looks again: about the time the rest of kGatherDatagrams take at the rate these came, so
// that it wakes once for several rather than once for each. None when it is behind or nothing
// came.
std::chrono::microseconds GatherPause(std::chrono::microseconds since, int read) {
  if (read == 0 || read >= kGatherDatagrams) return {};
  return std::min(kMaxGather, since * (kGatherDatagrams - read) / read);
}

// |address| as an IPv4 address in network order; nothing for an empty text.
StatusOr<std::optional<std::uint32_t>> ParseSource(const std::string& address) {
  if (address.empty()) return std::optional<std::uint32_t>();
  const std::optional<Ipv4Endpoint> parsed = Ipv4Endpoint::Parse(address, 0);
  if (!parsed) return Status::InvalidArgument("not an IPv4 address: " + address);
  return std::optional<std::uint32_t>(parsed->Address());
}

StatusOr<std::optional<Ed25519PublicKey>> ParseKey(std::span<const std::uint8_t> publicKey) {
  if (publicKey.empty()) return std::optional<Ed25519PublicKey>();
  if (publicKey.size() != kEd25519PublicKeySize) {
    return Status::InvalidArgument("an Ed25519 public key is 32 bytes, not " +
                                   std::to_string(publicKey.size()));
  }
  Ed25519PublicKey key{};
  std::copy(publicKey.begin(), publicKey.end(), key.begin());
  return std::optional<Ed25519PublicKey>(key);
}

// Remembers |value| in |seen|, forgetting the oldest beyond |limit|; false when it was there.
template <typename T>
bool FirstTime(std::deque<T>& seen, T value, std::size_t limit) {
  if (std::find(seen.begin(), seen.end(), value) != seen.end()) return false;
  seen.push_back(value);
  if (seen.size() > limit) seen.pop_front();
  return true;
}

}  // namespace

StatusOr<std::unique_ptr<CarouselReceiver>> CarouselReceiver::Create(const ReceiverOptions& options,
                                                                     EventSink sink) {
  std::error_code fsError;
  std::filesystem::create_directories(options.folder, fsError);
  if (!std::filesystem::is_directory(options.folder, fsError)) {
    return Status::InvalidArgument("not a folder: " + options.folder);
  }
  if (options.port == 0) return Status::InvalidArgument("invalid port");
  StatusOr<std::optional<Ed25519PublicKey>> key = ParseKey(options.trustedKey);
  if (!key.ok()) return key.status();
  StatusOr<std::optional<std::uint32_t>> source = ParseSource(options.source);
  if (!source.ok()) return source.status();
  StatusOr<Socket> socket = OpenReceiveSocket(options.group, options.port, options.interface);
  if (!socket.ok()) return socket.status();
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.Valid()) return PosixError("eventfd", errno);
  IncomingFile::RemoveStaleTemporaries(options.folder);
  std::unique_ptr<CarouselReceiver> receiver(
      new CarouselReceiver(options, std::move(sink), std::move(*socket), std::move(wake)));
  MutexLock lock(receiver->settingsMu_);
  receiver->trustedKeySetting_ = *key;
  receiver->sourceSetting_ = *source;
  return receiver;
}

CarouselReceiver::CarouselReceiver(const ReceiverOptions& options, EventSink sink, Socket socket,
                                   UniqueFd wake)
    : options_(options),
      sink_(std::move(sink)),
      socket_(std::move(socket)),
      wake_(std::move(wake)),
      backlog_(socket_.Fd(), kBacklogBytes) {}

CarouselReceiver::~CarouselReceiver() {
  if (thread_.joinable()) {
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
    thread_.join();
  }
  files_.clear();
}

void CarouselReceiver::Start() {
  if (!thread_.joinable()) thread_ = std::thread(&CarouselReceiver::Run, this);
}

ReceiverStatistics CarouselReceiver::Statistics() const {
  return {datagrams_.load(), rejected_.load(), stray_.load(),
          static_cast<std::int64_t>(budget_.Held())};
}

Status CarouselReceiver::SetTrustedKey(std::span<const std::uint8_t> publicKey) {
  StatusOr<std::optional<Ed25519PublicKey>> key = ParseKey(publicKey);
  if (!key.ok()) return key.status();
  MutexLock lock(settingsMu_);
  trustedKeySetting_ = *key;
  return Status();
}

Status CarouselReceiver::SetSource(const std::string& address) {
  StatusOr<std::optional<std::uint32_t>> source = ParseSource(address);
  if (!source.ok()) return source.status();
  MutexLock lock(settingsMu_);
  sourceSetting_ = *source;
  return Status();
}

void CarouselReceiver::TakeSettings() {
  std::optional<Ed25519PublicKey> key;
  {
    MutexLock lock(settingsMu_);
    key = trustedKeySetting_;
    source_ = sourceSetting_;
  }
  if (key == trustedKey_) return;
  trustedKey_ = key;
  verdicts_.clear();
  unauthenticatedIds_.clear();
  // A digest counts only from a descriptor that the key signed: the files in progress wait
  // for one.
  if (trustedKey_) {
    for (auto& [id, file] : files_) file->ForgetDigest();
  }
}

bool CarouselReceiver::FromSource(const sockaddr_in& from, socklen_t length) {
  if (!source_) return true;
  if (length >= sizeof from && from.sin_family == AF_INET && from.sin_addr.s_addr == *source_) {
    return true;
  }
  stray_.fetch_add(1, std::memory_order_relaxed);
  if (FirstTime(straySources_, from.sin_addr.s_addr, kRememberedStraySources)) {
    Emit(FCASTRE_ERROR, kFcastErrorStraySource, 0, 0,
         Ipv4Endpoint(from.sin_addr.s_addr, 0).AddressText());
  }
  return false;
}

ReceiverProgress CarouselReceiver::Progress() const {
  MutexLock lock(progressMu_);
  return progress_;
}

void CarouselReceiver::PublishProgress() {
  const auto file = current_ ? files_.find(*current_) : files_.end();
  const bool receiving =
      file != files_.end() &&
      std::chrono::steady_clock::now() - file->second->LastProgress() < options_.stallTime;
  MutexLock lock(progressMu_);
  if (!receiving) {
    progress_ = {};
    return;
  }
  const IncomingFile& incoming = *file->second;
  if (progress_.fileId != *current_ || progress_.name.empty()) {
    progress_.fileId = *current_;
    progress_.name = incoming.Name();
    progress_.size = static_cast<std::int64_t>(incoming.Size());
  }
  progress_.symbolsHeld = incoming.SymbolsHeld();
  progress_.symbolsNeeded = incoming.SymbolsNeeded();
}

void CarouselReceiver::Run() {
  ReceiveBatch batch(socket_.Fd(), kBatch);
  pollfd waits[2] = {{socket_.Fd(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
  auto woke = std::chrono::steady_clock::now();
  while (!stop_.load()) {
    // Those read while a block was rebuilt came before any still on the socket.
    for (DatagramBacklog::Held held; backlog_.Pop(held);) {
      Take(held.bytes, held.from, held.fromLength, held.truncated);
    }
    if (::poll(waits, 2, 500) < 0 && errno != EINTR) {
      Emit(FCASTRE_FATAL_ERROR, kFcastErrorSocket, 0, 0, "");
      return;
    }
    if (waits[1].revents != 0) break;
    const auto now = std::chrono::steady_clock::now();
    int read = 0;
    for (;;) {
      const StatusOr<int> n = batch.Read();
      if (!n.ok()) {
        Emit(FCASTRE_FATAL_ERROR, kFcastErrorSocket, 0, 0, "");
        return;
      }
      if (*n == 0) break;
      read += *n;
      TakeSettings();
      ReceiveBatch::Datagram datagram;
      while (batch.Next(datagram)) {
        Take(datagram.bytes, datagram.from, datagram.fromLength, datagram.truncated);
      }
      PublishProgress();
      if (*n < kBatch || stop_.load() || !backlog_.Empty()) break;
    }
    PublishProgress();
    const std::chrono::microseconds pause =
        GatherPause(std::chrono::duration_cast<std::chrono::microseconds>(now - woke), read);
    woke = now;
    if (pause.count() > 0) std::this_thread::sleep_for(pause);
  }
}

void CarouselReceiver::Take(std::span<const std::uint8_t> bytes, const sockaddr_in& from,
                            socklen_t fromLength, bool truncated) {
  if (!FromSource(from, fromLength)) return;
  if (truncated) {
    rejected_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Handle(bytes);
}

void CarouselReceiver::Handle(std::span<const std::uint8_t> datagram) {
  datagrams_.fetch_add(1, std::memory_order_relaxed);
  ParsedPacket parsed = ParsePacket(datagram);
  if (parsed.error != ParseError::kNone) {
    rejected_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (const auto* symbol = std::get_if<SymbolPacket>(&parsed.packet)) {
    OnSymbol(*symbol, datagram);
  } else if (const auto* descriptor = std::get_if<DescriptorPacket>(&parsed.packet)) {
    OnDescriptor(*descriptor, datagram);
  }
}

bool CarouselReceiver::Finished(std::uint32_t fileId) const {
  return std::find(finishedIds_.begin(), finishedIds_.end(), fileId) != finishedIds_.end();
}

void CarouselReceiver::OnDescriptor(const DescriptorPacket& descriptor,
                                    std::span<const std::uint8_t> datagram) {
  const bool inProgress = files_.count(descriptor.fileId) != 0;
  if (!inProgress && Finished(descriptor.fileId)) return;
  if (trustedKey_ && !Authentic(datagram, descriptor)) {
    // Its file id stays open: a forger may have copied that of the genuine sender.
    ReportUnauthenticated(descriptor);
    return;
  }
  if (inProgress) {
    if (!trustedKey_ || files_.at(descriptor.fileId)->Describes(descriptor)) {
      LearnDigest(descriptor);
      return;
    }
    // Started, before the key was set, from a descriptor the key did not sign: the file the
    // key signed starts over.
    Discard(descriptor.fileId);
  }
  const std::optional<FileLayout> layout = ReceivableLayout(descriptor);
  if (!layout) {
    rejected_.fetch_add(1, std::memory_order_relaxed);
    Forget(descriptor.fileId);
    return;
  }
  if (!MakeRoomFor(*layout)) return;  // busy with other files; the descriptor comes again
  StartFile(descriptor, *layout);
}

bool CarouselReceiver::Authentic(std::span<const std::uint8_t> datagram,
                                 const DescriptorPacket& descriptor) {
  // A sender repeats each descriptor many times; checking a signature costs 50 to 100 us.
  for (const Verdict& verdict : verdicts_) {
    if (std::equal(datagram.begin(), datagram.end(), verdict.datagram.begin(),
                   verdict.datagram.end())) {
      return verdict.authentic;
    }
  }
  const bool authentic = VerifyDescriptor(datagram, descriptor, *trustedKey_);
  verdicts_.push_back({{datagram.begin(), datagram.end()}, authentic});
  if (verdicts_.size() > kRememberedVerdicts) verdicts_.pop_front();
  return authentic;
}

void CarouselReceiver::ReportUnauthenticated(const DescriptorPacket& descriptor) {
  if (!FirstTime(unauthenticatedIds_, descriptor.fileId, kRememberedIds)) return;
  Emit(FCASTRE_ERROR, kFcastErrorUnauthenticated, descriptor.fileId,
       static_cast<std::int64_t>(descriptor.fileSize),
       SanitizeFileName(descriptor.name, descriptor.fileId));
}

void CarouselReceiver::Discard(std::uint32_t fileId) {
  const IncomingFile& file = *files_.at(fileId);
  EndProgress(fileId);
  Emit(FCASTRE_ERROR, kFcastErrorUnauthenticated, fileId, static_cast<std::int64_t>(file.Size()),
       file.Name());
  files_.erase(fileId);
}

void CarouselReceiver::LearnDigest(const DescriptorPacket& descriptor) {
  // The sender may have started before it knew the file's digest: a whole file waits for it.
  IncomingFile& file = *files_.at(descriptor.fileId);
  if (descriptor.sha256 && !file.Digest()) {
    file.LearnDigest(*descriptor.sha256);
    if (file.Ready()) Complete(descriptor.fileId);
  }
}

std::optional<FileLayout> CarouselReceiver::ReceivableLayout(const DescriptorPacket& descriptor) {
  return FileLayout::Make(descriptor.fileSize, descriptor.symbolSize, descriptor.sourceSymbols);
}

std::optional<std::uint32_t> CarouselReceiver::Stalled() const {
  const auto idlest =
      std::min_element(files_.begin(), files_.end(), [](const auto& a, const auto& b) {
        return a.second->LastProgress() < b.second->LastProgress();
      });
  if (idlest == files_.end() ||
      std::chrono::steady_clock::now() - idlest->second->LastProgress() < options_.stallTime) {
    return std::nullopt;
  }
  return idlest->first;
}

std::uint64_t CarouselReceiver::Reserved() const {
  std::uint64_t reserved = 0;
  for (const auto& [id, file] : files_) reserved += file->Outstanding();
  return reserved;
}

bool CarouselReceiver::MakeRoomFor(const FileLayout& layout) {
  // A bounded number of files, of blocks tracked over all of them, and of disk space promised
  // to them; a stalled file makes way, so that descriptors alone hold none of these.
  const auto trackedBlocks = [this] {
    std::uint64_t blocks = 0;
    for (const auto& [id, file] : files_) blocks += file->BlockCount();
    return blocks;
  };
  // A file larger than the free space is refused by IncomingFile::Create, whatever makes way.
  const std::uint64_t footprint = IncomingFile::Footprint(layout);
  const std::uint64_t available =
      IncomingFile::FreeSpace(options_.folder).value_or(std::uint64_t{0});
  const auto lacksDisk = [&] {
    return footprint <= available && footprint + Reserved() > available;
  };
  while (files_.size() >= kMaxActiveFiles ||
         trackedBlocks() + layout.BlockCount() > FileLayout::kMaxBlocks || lacksDisk()) {
    const std::optional<std::uint32_t> stalled = Stalled();
    if (!stalled) return false;
    Fail(*stalled, kFcastErrorAbandoned);
  }
  return true;
}

void CarouselReceiver::StartFile(const DescriptorPacket& descriptor, const FileLayout& layout) {
  IncomingFile::Created created =
      IncomingFile::Create(options_.folder, descriptor, layout, Reserved(), &budget_, &decoder_);
  const std::string name = SanitizeFileName(descriptor.name, descriptor.fileId);
  const auto size = static_cast<std::int64_t>(descriptor.fileSize);
  if (!created.file) {
    DebugOut("Fcast receiver: " + created.status.message() + "\n");
    Emit(FCASTRE_ERROR, created.error, descriptor.fileId, size, name);
    Forget(descriptor.fileId);
    return;
  }
  // Ready for the file's largest blocks, its first ones, well before its last datagram.
  if (layout.BlockCount() > 0) decoder_.Prepare(layout.SourceSymbols(0), layout.SymbolSize());
  created.file->SetMeanwhile([this] { backlog_.Fill(); });
  const bool ready = created.file->Ready();
  files_.emplace(descriptor.fileId, std::move(created.file));
  current_ = descriptor.fileId;
  Emit(FCASTRE_FILE_START, 0, descriptor.fileId, size, name);
  if (ready) {
    Complete(descriptor.fileId);
    return;
  }
  DeliverEarlySymbols(descriptor.fileId);
}

void CarouselReceiver::DeliverEarlySymbols(std::uint32_t fileId) {
  std::deque<Early> waiting;
  waiting.swap(early_);
  for (Early& early : waiting) {
    if (early.fileId != fileId) {
      early_.push_back(std::move(early));
    } else if (files_.count(fileId) != 0) {
      Deliver(std::get<SymbolPacket>(ParsePacket(early.datagram).packet));
    }
  }
}

void CarouselReceiver::OnSymbol(const SymbolPacket& symbol, std::span<const std::uint8_t> datagram) {
  if (files_.count(symbol.fileId) != 0) {
    Deliver(symbol);
  } else if (!Finished(symbol.fileId)) {
    if (early_.size() == kEarlySymbols) early_.pop_front();
    early_.push_back({symbol.fileId, {datagram.begin(), datagram.end()}});
  }
}

void CarouselReceiver::Deliver(const SymbolPacket& symbol) {
  const auto it = files_.find(symbol.fileId);
  switch (it->second->Accept(symbol)) {
    case IncomingFile::Result::kComplete:
      Complete(symbol.fileId);
      break;
    case IncomingFile::Result::kFailed:
      Fail(symbol.fileId, kFcastErrorWrite);
      break;
    case IncomingFile::Result::kStored:
      current_ = symbol.fileId;
      break;
    case IncomingFile::Result::kIgnored:
      break;
  }
}

void CarouselReceiver::Complete(std::uint32_t fileId) {
  IncomingFile& file = *files_.at(fileId);
  const long error = file.Finish();
  if (error != kFcastErrorNone) {
    Fail(fileId, error);
    return;
  }
  EndProgress(fileId);
  if (file.KeptPrevious()) {
    Emit(FCASTRE_FILE_REPLACED, 0, fileId, static_cast<std::int64_t>(file.Size()), file.Name());
  }
  Emit(FCASTRE_FILE_COMPLETE, 0, fileId, static_cast<std::int64_t>(file.Size()), file.Name(),
       *file.Digest());
  files_.erase(fileId);
  Forget(fileId);
}

void CarouselReceiver::Fail(std::uint32_t fileId, long error) {
  const IncomingFile& file = *files_.at(fileId);
  EndProgress(fileId);
  Emit(FCASTRE_ERROR, error, fileId, static_cast<std::int64_t>(file.Size()), file.Name());
  files_.erase(fileId);
  Forget(fileId);
}

void CarouselReceiver::EndProgress(std::uint32_t fileId) {
  if (current_ != fileId) return;
  current_.reset();
  PublishProgress();
}

void CarouselReceiver::Forget(std::uint32_t fileId) {
  std::erase_if(early_, [fileId](const Early& early) { return early.fileId == fileId; });
  finishedIds_.push_back(fileId);
  if (finishedIds_.size() > kRememberedIds) finishedIds_.pop_front();
}

void CarouselReceiver::Emit(long code, long error, std::uint32_t fileId, std::int64_t size,
                            std::string name, const Sha256Digest& sha256) {
  ReceiverEvent event;
  event.code = code;
  event.error = error;
  event.fileId = fileId;
  event.size = size;
  event.name = std::move(name);
  event.sha256 = sha256;
  if (sink_) sink_(event);
}

}  // namespace ondavox::fcast
