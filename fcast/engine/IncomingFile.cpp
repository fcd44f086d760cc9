#include "fcast/engine/IncomingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "common/FcastComponent.h"
#include "fcast/engine/FileName.h"
#include "fcast/engine/PositionedIo.h"
#include "fcast/engine/Sha256.h"
#include "platform/LockedTemporary.h"

namespace ondavox::fcast {

namespace {

constexpr char kTemporaryPrefix[] = ".fcast-";
// Symbols a rebuild reads at a time.
constexpr std::uint32_t kReadSymbols = 256;

bool Test(const std::vector<std::uint64_t>& bits, std::uint32_t i) {
  return ((bits[i / 64] >> (i % 64)) & 1) != 0;
}
void Set(std::vector<std::uint64_t>& bits, std::uint32_t i) {
  bits[i / 64] |= std::uint64_t{1} << (i % 64);
}

}  // namespace

bool MemoryBudget::Take(std::uint64_t bytes) {
  if (held_.load(std::memory_order_relaxed) + bytes > limit_) return false;
  held_.fetch_add(bytes, std::memory_order_relaxed);
  return true;
}

bool MemoryBudget::TakeSpare(std::uint64_t bytes) {
  if (held_.load(std::memory_order_relaxed) + bytes > limit_ / 2) return false;
  held_.fetch_add(bytes, std::memory_order_relaxed);
  return true;
}

IncomingFile::IncomingFile(const FileLayout& layout, MemoryBudget* budget, WideDecoder* decoder)
    : layout_(layout),
      ownBudget_(budget != nullptr
                     ? nullptr
                     : std::make_unique<MemoryBudget>(std::numeric_limits<std::uint64_t>::max())),
      budget_(budget != nullptr ? budget : ownBudget_.get()),
      ownDecoder_(decoder != nullptr ? nullptr : std::make_unique<WideDecoder>()),
      decoder_(decoder != nullptr ? decoder : ownDecoder_.get()),
      lastProgress_(std::chrono::steady_clock::now()) {}

IncomingFile::Block::Block(std::uint32_t k) : have((k + 63) / 64), taken((k + 63) / 64) {
  // The places past k in the last word count as taken, so that no free place is found there.
  if (k % 64 != 0) taken.back() = ~std::uint64_t{0} << (k % 64);
}

std::optional<std::uint64_t> IncomingFile::FreeSpace(const std::string& folder) {
  struct statvfs disk {};
  if (::statvfs(folder.c_str(), &disk) != 0) return std::nullopt;
  return std::uint64_t{disk.f_bavail} * disk.f_frsize;
}

std::uint64_t IncomingFile::Footprint(const FileLayout& layout) {
  // Every symbol whole, the last one padded, then the symbols' digests, then the blocks'.
  return layout.SymbolCount() * (layout.SymbolSize() + kSymbolDigestSize) +
         std::uint64_t{layout.BlockCount()} * sizeof(Sha256Digest);
}

IncomingFile::Created IncomingFile::Create(const std::string& folder,
                                           const DescriptorPacket& descriptor,
                                           const FileLayout& layout, std::uint64_t reserved,
                                           MemoryBudget* budget, WideDecoder* decoder) {
  const std::optional<std::uint64_t> available = FreeSpace(folder);
  if (!available) return {nullptr, kFcastErrorCreateFile, PosixError("statvfs " + folder, errno)};
  const std::uint64_t footprint = Footprint(layout);
  if (footprint > *available || footprint + reserved > *available) {
    return {nullptr, kFcastErrorDiskSpace, Status::IoError("not enough free space in " + folder)};
  }
  StatusOr<LockedTemporary> temporary =
      CreateLockedTemporary((std::filesystem::path(folder) / kTemporaryPrefix).string() + "XXXXXX",
                            "cannot create a file in " + folder);
  if (!temporary.ok()) return {nullptr, kFcastErrorCreateFile, temporary.status()};
  std::unique_ptr<IncomingFile> file(new IncomingFile(layout, budget, decoder));
  file->fileId_ = descriptor.fileId;
  file->descriptor_ = descriptor;
  file->descriptor_.sha256.reset();
  file->descriptor_.signature.reset();
  file->name_ = SanitizeFileName(descriptor.name, descriptor.fileId);
  file->finalPath_ = (std::filesystem::path(folder) / file->name_).string();
  file->sha256_ = descriptor.sha256;
  file->fd_ = std::move(temporary->fd);
  file->tempPath_ = std::move(temporary->path);
  if (::fchmod(file->fd_.Get(), 0644) != 0 ||
      ::ftruncate(file->fd_.Get(), static_cast<off_t>(footprint)) != 0) {
    // The destructor removes the temporary file.
    return {nullptr, kFcastErrorCreateFile, PosixError(file->tempPath_, errno)};
  }
  file->whole_.resize(layout.BlockCount());
  file->Charge(layout.BlockCount() / 8);
  return {std::move(file), kFcastErrorNone, Status()};
}

void IncomingFile::RemoveStaleTemporaries(const std::string& folder) {
  // A live receiver holds the lock of each temporary file it writes.
  RemoveUnlockedFiles(folder,
                      [](std::string_view name) { return name.starts_with(kTemporaryPrefix); });
}

IncomingFile::~IncomingFile() {
  if (!finished_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
  budget_->Release(held_);
}

IncomingFile::Block* IncomingFile::EnsureBlock(std::uint32_t index) {
  const auto found = blocks_.find(index);
  if (found != blocks_.end()) return found->second.get();
  const std::uint32_t k = layout_.SourceSymbols(index);
  const std::uint64_t bytes = sizeof(Block) + (k + 63) / 64 * 16;
  if (!Take(bytes)) return nullptr;
  Block* block = blocks_.emplace(index, std::make_unique<Block>(k)).first->second.get();
  block->charged = bytes;
  // Without room for a stretch, the block's symbols are written one by one.
  const std::uint64_t room = std::uint64_t{kStretch} * layout_.SymbolSize();
  if (stretchBytes_ + room <= kMaxStretchBytes && budget_->TakeSpare(room)) {
    held_ += room;
    block->stretch.resize(room);
    block->charged += room;
    stretchBytes_ += room;
  }
  return block;
}

bool IncomingFile::Take(std::uint64_t bytes) {
  if (!budget_->Take(bytes)) return false;
  held_ += bytes;
  return true;
}

void IncomingFile::Charge(std::uint64_t bytes) {
  budget_->Charge(bytes);
  held_ += bytes;
}

void IncomingFile::Release(std::uint64_t bytes) {
  budget_->Release(bytes);
  held_ -= bytes;
}

void IncomingFile::Stored() {
  if (++storedSinceProgress_ == kProgressSymbols) {
    storedSinceProgress_ = 0;
    lastProgress_ = std::chrono::steady_clock::now();
  }
}

std::uint64_t IncomingFile::Outstanding() const { return layout_.FileSize() - bytesDone_; }

std::uint64_t IncomingFile::SymbolDigestOffset(std::uint32_t index, std::uint32_t place) const {
  return layout_.SymbolCount() * layout_.SymbolSize() +
         (layout_.FirstSymbol(index) + place) * kSymbolDigestSize;
}

std::uint64_t IncomingFile::BlockDigestOffset(std::uint32_t index) const {
  return layout_.SymbolCount() * (layout_.SymbolSize() + kSymbolDigestSize) +
         std::uint64_t{index} * sizeof(Sha256Digest);
}

std::uint32_t IncomingFile::FreePlace(const Block& block) const {
  for (std::size_t w = block.taken.size(); w-- > 0;) {
    const std::uint64_t free = ~block.taken[w];
    if (free != 0) return static_cast<std::uint32_t>(w * 64 + 63 - std::countl_zero(free));
  }
  return 0;  // unreachable: a block with every place taken is complete
}

void IncomingFile::Occupy(Block& block, std::uint32_t place) {
  Set(block.taken, place);
  ++block.held;
  ++symbolsHeld_;
}

IncomingFile::Result IncomingFile::Accept(const SymbolPacket& symbol) {
  if (symbol.block >= layout_.BlockCount() || symbol.data.size() != layout_.SymbolSize() ||
      whole_[symbol.block]) {
    return Result::kIgnored;
  }
  const std::uint32_t k = layout_.SourceSymbols(symbol.block);
  const std::uint32_t id = symbol.symbolId;
  if (id >= k && id < WideStride(k)) return Result::kIgnored;  // the code's zero padding
  Block* block = EnsureBlock(symbol.block);
  if (block == nullptr) return Result::kIgnored;
  const Result result = id < k ? AcceptSource(symbol.block, *block, id, symbol.data)
                               : AcceptRepair(symbol.block, *block, symbol.symbolId, symbol.data);
  if (result != Result::kStored) return result;
  Stored();
  if (block->held < k) return Result::kStored;
  if (!Complete(symbol.block, *block)) return Result::kFailed;
  return Ready() ? Result::kComplete : Result::kStored;
}

IncomingFile::Result IncomingFile::AcceptSource(std::uint32_t index, Block& block,
                                                std::uint32_t id,
                                                std::span<const std::uint8_t> data) {
  if (Test(block.have, id)) return Result::kIgnored;
  if (Test(block.taken, id)) {
    // A repair symbol stands in this place: it moves to a free one, which the block has, since
    // it is not yet complete.
    const std::uint32_t to = FreePlace(block);
    auto standIn = std::find_if(block.repair.begin(), block.repair.end(),
                                [id](const StandIn& s) { return s.place == id; });
    scratch_.resize(layout_.SymbolSize());
    if (!ReadAt(fd_.Get(), scratch_.data(), scratch_.size(), layout_.Offset(index, id)) ||
        !WriteAt(fd_.Get(), scratch_.data(), scratch_.size(), layout_.Offset(index, to))) {
      return Result::kFailed;
    }
    standIn->place = static_cast<std::uint16_t>(to);
    Occupy(block, to);
  } else {
    Occupy(block, id);
  }
  Set(block.have, id);
  ++block.sources;
  if (!WriteSource(index, block, id, data) || !RecordDigest(index, block, id, DigestSymbol(data))) {
    return Result::kFailed;
  }
  return Result::kStored;
}

bool IncomingFile::WriteSource(std::uint32_t index, Block& block, std::uint32_t place,
                               std::span<const std::uint8_t> data) {
  if (block.stretch.empty()) {
    return WriteAt(fd_.Get(), data.data(), data.size(), layout_.Offset(index, place));
  }
  if (place != block.stretchBase + block.stretchCount || block.stretchCount == kStretch) {
    if (!FlushStretch(index, block)) return false;
    block.stretchBase = place;
  }
  std::copy(data.begin(), data.end(), &block.stretch[block.stretchCount * data.size()]);
  ++block.stretchCount;
  return true;
}

bool IncomingFile::FlushStretch(std::uint32_t index, Block& block) {
  const std::size_t bytes = std::size_t{block.stretchCount} * layout_.SymbolSize();
  block.stretchCount = 0;
  return bytes == 0 ||
         WriteAt(fd_.Get(), block.stretch.data(), bytes, layout_.Offset(index, block.stretchBase));
}

IncomingFile::Result IncomingFile::AcceptRepair(std::uint32_t index, Block& block,
                                                std::uint16_t id,
                                                std::span<const std::uint8_t> data) {
  const auto byId = [](const StandIn& s, std::uint16_t value) { return s.id < value; };
  auto at = std::lower_bound(block.repair.begin(), block.repair.end(), id, byId);
  if (at != block.repair.end() && at->id == id) return Result::kIgnored;
  if (block.repair.size() == block.repair.capacity()) {
    const std::size_t more = std::max<std::size_t>(16, block.repair.capacity());
    if (!Take(more * sizeof(StandIn))) return Result::kIgnored;
    block.charged += more * sizeof(StandIn);
    const std::ptrdiff_t offset = at - block.repair.begin();
    block.repair.reserve(block.repair.capacity() + more);
    at = block.repair.begin() + offset;
  }
  const std::uint32_t place = FreePlace(block);
  if (!WriteAt(fd_.Get(), data.data(), data.size(), layout_.Offset(index, place))) {
    return Result::kFailed;
  }
  block.repair.insert(at, StandIn{id, static_cast<std::uint16_t>(place)});
  Occupy(block, place);
  return Result::kStored;
}

bool IncomingFile::RecordDigest(std::uint32_t index, Block& block, std::uint32_t place,
                                const SymbolDigest& digest) {
  if (place < block.runBase) {  // out of order: written at once
    return WriteAt(fd_.Get(), digest.data(), digest.size(), SymbolDigestOffset(index, place));
  }
  if (place >= block.runBase + kRun) {
    if (!FlushRun(index, block)) return false;
    block.runBase = place - place % kRun;
  }
  block.run[place - block.runBase] = digest;
  block.runMask |= std::uint64_t{1} << (place - block.runBase);
  return true;
}

bool IncomingFile::FlushRun(std::uint32_t index, Block& block) {
  // One write per stretch of consecutive digests: the places lost in between are not
  // overwritten.
  std::uint64_t mask = block.runMask;
  while (mask != 0) {
    const auto first = static_cast<std::uint32_t>(std::countr_zero(mask));
    const auto count = static_cast<std::uint32_t>(std::countr_one(mask >> first));
    if (!WriteAt(fd_.Get(), block.run[first].data(), std::size_t{count} * kSymbolDigestSize,
                 SymbolDigestOffset(index, block.runBase + first))) {
      return false;
    }
    mask &= count == 64 ? 0 : ~(((std::uint64_t{1} << count) - 1) << first);
  }
  block.runMask = 0;
  return true;
}

bool IncomingFile::Complete(std::uint32_t index, Block& block) {
  const std::uint32_t k = layout_.SourceSymbols(index);
  if (!FlushStretch(index, block)) return false;
  // The block's digest, from the digests of the symbols received (on disk, or in the run not
  // yet written) and of those the rebuild makes.
  digests_.resize(k);
  if (!ReadAt(fd_.Get(), digests_.front().data(), std::size_t{k} * kSymbolDigestSize,
              SymbolDigestOffset(index, 0))) {
    return false;
  }
  for (std::uint32_t i = 0; i < kRun; ++i) {
    if ((block.runMask >> i & 1) != 0) digests_[block.runBase + i] = block.run[i];
  }
  if (block.sources < k && !Rebuild(index, block)) return false;
  const Sha256Digest digest = DigestSymbols(digests_);
  if (!WriteAt(fd_.Get(), digest.data(), digest.size(), BlockDigestOffset(index))) return false;
  symbolsHeld_ += k - block.held;
  stretchBytes_ -= block.stretch.size();
  Release(block.charged);
  blocks_.erase(index);  // |block| is gone
  whole_[index] = true;
  ++blocksDone_;
  bytesDone_ += layout_.BlockBytes(index);
  return true;
}

bool IncomingFile::Rebuild(std::uint32_t index, const Block& block) {
  // Every place holds a symbol: its own source symbol, or a repair symbol standing in.
  const std::uint32_t k = layout_.SourceSymbols(index);
  const std::size_t symbolSize = layout_.SymbolSize();
  std::vector<std::uint16_t> ids(k);
  for (std::uint32_t place = 0; place < k; ++place) ids[place] = static_cast<std::uint16_t>(place);
  for (const StandIn& s : block.repair) ids[s.place] = s.id;
  if (!decoder_->Plan(k, symbolSize, ids)) return false;
  const std::span<const std::uint32_t> missing = decoder_->Missing();
  // What the passes before the last rebuild of each missing symbol waits here, so that the
  // last one writes and hashes every symbol once, whole.
  const int last = decoder_->Passes() - 1;
  const std::size_t early = decoder_->PassBegin(last);
  rebuilt_.resize(missing.size() * early);
  scratch_.resize(std::size_t{kReadSymbols} * symbolSize);
  for (int pass = 0; pass <= last; ++pass) {
    for (std::uint32_t first = 0; first < k; first += kReadSymbols) {
      const std::uint32_t count = std::min(kReadSymbols, k - first);
      if (!ReadAt(fd_.Get(), scratch_.data(), count * symbolSize, layout_.Offset(index, first))) {
        return false;
      }
      for (std::uint32_t i = 0; i < count; ++i) {
        if (decoder_->Uses(first + i)) decoder_->Put(first + i, &scratch_[i * symbolSize]);
      }
      Meanwhile();
    }
    decoder_->Solve(meanwhile_);
    for (std::size_t m = 0; m < missing.size(); ++m) {
      if (m % kReadSymbols == kReadSymbols - 1) Meanwhile();
      if (pass < last) {
        decoder_->Get(missing[m], rebuilt_.data() + m * early);
        continue;
      }
      const std::span<std::uint8_t> symbol(scratch_.data(), symbolSize);
      std::copy_n(rebuilt_.data() + m * early, early, symbol.begin());
      decoder_->Get(missing[m], symbol.data());
      if (!WriteAt(fd_.Get(), symbol.data(), symbolSize, layout_.Offset(index, missing[m]))) {
        return false;
      }
      digests_[missing[m]] = DigestSymbol(symbol);
    }
  }
  return true;
}

void IncomingFile::LearnDigest(const Sha256Digest& digest) {
  if (!sha256_) sha256_ = digest;
}

bool IncomingFile::Describes(const DescriptorPacket& descriptor) const {
  return descriptor.name == descriptor_.name && descriptor.fileSize == descriptor_.fileSize &&
         descriptor.symbolSize == descriptor_.symbolSize &&
         descriptor.sourceSymbols == descriptor_.sourceSymbols;
}

std::optional<Sha256Digest> IncomingFile::FileDigest() const {
  Sha256 hash;
  std::vector<Sha256Digest> blocks(std::min<std::uint32_t>(layout_.BlockCount(), 4096));
  for (std::uint32_t first = 0; first < layout_.BlockCount();) {
    const auto count = static_cast<std::uint32_t>(
        std::min<std::size_t>(blocks.size(), layout_.BlockCount() - first));
    const std::size_t bytes = std::size_t{count} * sizeof(Sha256Digest);
    if (!ReadAt(fd_.Get(), blocks.front().data(), bytes, BlockDigestOffset(first))) return {};
    hash.Update({blocks.front().data(), bytes});
    first += count;
  }
  return hash.Final();
}

long IncomingFile::Finish() {
  if (!Ready()) return kFcastErrorWrite;
  const std::optional<Sha256Digest> digest = FileDigest();
  if (!digest) return kFcastErrorWrite;
  if (*digest != sha256_) return kFcastErrorChecksum;
  if (::ftruncate(fd_.Get(), static_cast<off_t>(layout_.FileSize())) != 0) return kFcastErrorWrite;
  KeepPrevious();
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return kFcastErrorRename;
  finished_ = true;
  return kFcastErrorNone;
}

void IncomingFile::KeepPrevious() {
  // Anything but a regular file (a link, a folder) is left to the rename, as is a file with
  // exactly these bytes: keeping it would keep nothing. The bytes are compared only when the
  // sizes match, once per file received, on the receiver's thread.
  struct stat existing {};
  if (::lstat(finalPath_.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) return;
  if (static_cast<std::uint64_t>(existing.st_size) == layout_.FileSize() &&
      SameAsFile(finalPath_)) {
    return;
  }
  // One generation: an older "~" file goes. A "~" name that is a folder, or one longer than
  // the file system allows, cannot take the file, which the rename then replaces unkept.
  keptPrevious_ = ::rename(finalPath_.c_str(), (finalPath_ + "~").c_str()) == 0;
}

bool IncomingFile::SameAsFile(const std::string& path) {
  const UniqueFd other(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!other.Valid()) return false;
  constexpr std::size_t kChunk = 256 * 1024;
  std::vector<std::uint8_t> ours(kChunk);
  std::vector<std::uint8_t> theirs(kChunk);
  for (std::uint64_t offset = 0; offset < layout_.FileSize(); offset += kChunk) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, layout_.FileSize() - offset));
    if (!ReadAt(fd_.Get(), ours.data(), length, offset) ||
        !ReadAt(other.Get(), theirs.data(), length, offset) ||
        std::memcmp(ours.data(), theirs.data(), length) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace ondavox::fcast
