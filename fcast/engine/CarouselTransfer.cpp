#include "fcast/engine/CarouselTransfer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "fcast/engine/TurnIds.h"

namespace ondavox::fcast {
namespace {

constexpr std::uint64_t kMinPacketsPerRound = 32;
constexpr std::uint64_t kDescriptorBurst = 8;
constexpr int kMaxBatch = 64;
constexpr auto kDescriptorPeriod = std::chrono::seconds(1);

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

DescriptorPacket Describe(const FileLayout& layout, const std::string& name) {
  DescriptorPacket descriptor;
  descriptor.fileId = RandomFileId();
  descriptor.fileSize = layout.FileSize();
  descriptor.symbolSize = static_cast<std::uint16_t>(layout.SymbolSize());
  descriptor.sourceSymbols = static_cast<std::uint16_t>(layout.K());
  descriptor.name = name;
  return descriptor;
}

std::uint64_t PassesPerRound(std::uint64_t symbols) {
  if (symbols == 0) return 1;
  return std::max<std::uint64_t>(1, (kMinPacketsPerRound + symbols - 1) / symbols);
}

}  // namespace

std::optional<FileLayout> CarouselTransfer::Layout(std::uint64_t size,
                                                   const SenderOptions& options) {
  if (size > kMaxFileSize) return std::nullopt;
  return FileLayout::Make(size, options.symbolSize, ChooseBlockSize(options.plannedRounds));
}

CarouselTransfer::CarouselTransfer(const SenderOptions& options, int socket, UniqueFd file,
                                   std::uint64_t size, const std::string& name,
                                   const Ed25519Key* signingKey, SenderCounters& counters)
    : rounds_(options.rounds),
      signingKey_(signingKey),
      counters_(counters),
      file_(std::move(file)),
      layout_(*Layout(size, options)),
      descriptor_(Describe(layout_, name)),
      passes_(PassesPerRound(layout_.SymbolCount())),
      perRound_(layout_.SymbolCount() * passes_),
      descriptorEvery_(std::clamp<std::uint64_t>(perRound_ / 4, 4, 128)),
      unitsPerRound_(static_cast<std::int64_t>(size / 1024)),
      repairSkew_(RepairSkew(layout_.BlockCount(), layout_.K(),
                             static_cast<double>(options.rateBytesPerSecond) /
                                 static_cast<double>(kSymbolHeaderSize + options.symbolSize))),
      reader_(layout_),
      pacer_(options.rateBytesPerSecond),
      out_(socket, pacer_, pacer_.BatchSize(kSymbolHeaderSize + options.symbolSize, kMaxBatch),
           stop_),
      lastDescriptor_(Pacer::Clock::now()),
      hash_(file_.Get(), layout_) {
  if (layout_.SymbolCount() != 0 && Planned(1)) {
    repair_ = std::make_unique<RepairFiles>(file_.Get(), layout_);
  }
  EncodeOwnDescriptor();
}

void CarouselTransfer::EncodeOwnDescriptor() {
  if (signingKey_ != nullptr) {
    EncodeSignedDescriptor(descriptor_, *signingKey_, descriptorBytes_);
  } else {
    EncodeDescriptor(descriptor_, descriptorBytes_);
  }
}

void CarouselTransfer::Stop() {
  stop_ = true;
  hash_.Stop();
  if (repair_) repair_->Stop();
}

void CarouselTransfer::Run() {
  counters_.MarkStart();
  for (round_ = 0; rounds_ == 0 || round_ < rounds_; ++round_) {
    if (!SendRound()) break;
    // Rounds first: whoever sees the final unit count also sees the round counted.
    counters_.rounds.store(round_ + 1);
    counters_.fileUnits.store((round_ + 1) * unitsPerRound_);
  }
  hash_.Stop();
  if (repair_) repair_->Stop();
}

bool CarouselTransfer::SendRound() {
  // An empty file is all descriptor: a round repeats it, so that one lost datagram does not
  // lose the round.
  if (!SendDescriptors(layout_.SymbolCount() == 0 ? kDescriptorBurst : 1)) return false;
  sentInRound_ = 0;
  for (std::uint64_t pass = 0; pass < passes_; ++pass) {
    const std::uint64_t turn = static_cast<std::uint64_t>(round_) * passes_ + pass;
    if (!SendTurn(turn)) return false;
  }
  return SendDigestBeforeRoundEnds() && out_.Flush();
}

bool CarouselTransfer::Planned(std::uint64_t turn) const {
  return rounds_ == 0 || turn < passes_ * static_cast<std::uint64_t>(rounds_);
}

bool CarouselTransfer::SendTurn(std::uint64_t turn) {
  if (layout_.SymbolCount() == 0) return true;
  // Turn 0 reads the file; a repair turn waits for its repair file, normally long ready.
  int fd = file_.Get();
  std::uint64_t bytes = layout_.FileSize();
  if (turn != 0) {
    fd = repair_->Wait(turn);
    if (fd < 0) return false;
    bytes = layout_.SymbolCount() * layout_.SymbolSize();
  }
  // The next turn's file is the one the turn before this read: free now.
  if (repair_ && Planned(turn + 1)) repair_->Request(turn + 1);
  reader_.Begin(fd, bytes);
  const bool repair = turn != 0;
  // Position by position across the blocks; in a repair turn, block b lags by b * skew.
  const std::uint64_t skew = repair ? repairSkew_ : 0;
  const std::uint64_t steps = layout_.K() + (layout_.BlockCount() - 1) * skew;
  for (std::uint64_t step = 0; step < steps; ++step) {
    for (std::uint32_t block = 0; block < layout_.BlockCount() && step >= block * skew; ++block) {
      const std::uint32_t kb = layout_.SourceSymbols(block);
      const std::uint64_t j = step - block * skew;
      if (j >= kb) continue;
      const std::uint8_t* symbol = reader_.At(block, static_cast<std::uint32_t>(j));
      if (symbol == nullptr) return false;
      const std::size_t length = EncodeSymbolInto(
          descriptor_.fileId, block, TurnSymbolId(turn, kb, static_cast<std::uint32_t>(j)),
          {symbol, layout_.SymbolSize()}, out_.Next());
      if (!CommitSymbol(length, repair)) return false;
    }
  }
  return true;
}

bool CarouselTransfer::SendDescriptor() {
  if (!TakeDigest(false)) return false;
  std::memcpy(out_.Next(), descriptorBytes_.data(), descriptorBytes_.size());
  sinceDescriptor_ = 0;
  lastDescriptor_ = Pacer::Clock::now();
  counters_.CountDatagram(descriptorBytes_.size());
  return out_.Commit(descriptorBytes_.size());
}

bool CarouselTransfer::SendDescriptors(std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!SendDescriptor()) return false;
  }
  return true;
}

bool CarouselTransfer::SendDigestBeforeRoundEnds() {
  // This happens only to a file whose round is shorter than its hash.
  if (descriptor_.sha256) return true;
  return TakeDigest(true) && SendDescriptors(kDescriptorBurst);
}

bool CarouselTransfer::CommitSymbol(std::size_t length, bool repair) {
  if (!out_.Commit(length)) return false;
  counters_.CountDatagram(length);
  ++sentInRound_;
  if (repair) ++repairPackets_;
  counters_.fileUnits.store(
      round_ * unitsPerRound_ + UnitsInto(unitsPerRound_, sentInRound_, perRound_),
      std::memory_order_relaxed);
  counters_.repairUnits.store(static_cast<std::int64_t>(static_cast<long double>(unitsPerRound_) *
                                                        repairPackets_ / perRound_),
                              std::memory_order_relaxed);
  if (++sinceDescriptor_ >= descriptorEvery_ ||
      Pacer::Clock::now() - lastDescriptor_ >= kDescriptorPeriod) {
    return SendDescriptor();
  }
  return true;
}

bool CarouselTransfer::TakeDigest(bool wait) {
  if (descriptor_.sha256) return true;
  if (!wait && !hash_.Done()) return true;  // not yet: this descriptor goes without it
  descriptor_.sha256 = hash_.Wait();
  if (!descriptor_.sha256) return false;
  EncodeOwnDescriptor();
  return true;
}

}  // namespace ondavox::fcast
