#include "fcast/engine/IncomingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

bool MemoryBudget::Take(std::uint64_t bytes) {
  if (held_.load(std::memory_order_relaxed) + bytes > limit_) return false;
  held_.fetch_add(bytes, std::memory_order_relaxed);
  return true;
}

IncomingFile::IncomingFile(const FileLayout& layout, MemoryBudget* budget)
    : layout_(layout),
      ownBudget_(budget != nullptr
                     ? nullptr
                     : std::make_unique<MemoryBudget>(std::numeric_limits<std::uint64_t>::max())),
      budget_(budget != nullptr ? budget : ownBudget_.get()),
      lastProgress_(std::chrono::steady_clock::now()) {}

std::optional<std::uint64_t> IncomingFile::FreeSpace(const std::string& folder) {
  struct statvfs disk {};
  if (::statvfs(folder.c_str(), &disk) != 0) return std::nullopt;
  return std::uint64_t{disk.f_bavail} * disk.f_frsize;
}

std::uint64_t IncomingFile::Footprint(const FileLayout& layout) {
  return layout.SymbolCount() * layout.SymbolSize();
}

IncomingFile::Created IncomingFile::Create(const std::string& folder,
                                           const DescriptorPacket& descriptor,
                                           const FileLayout& layout, std::uint64_t reserved,
                                           MemoryBudget* budget) {
  const std::optional<std::uint64_t> available = FreeSpace(folder);
  if (!available) return {nullptr, kFcastErrorCreateFile, PosixError("statvfs " + folder, errno)};
  // While it is received, the file holds every symbol whole, the last one padded.
  const std::uint64_t footprint = Footprint(layout);
  if (footprint > *available || footprint + reserved > *available) {
    return {nullptr, kFcastErrorDiskSpace, Status::IoError("not enough free space in " + folder)};
  }
  if (layout.K() > static_cast<std::uint32_t>(kMaxCodeSourceSymbols)) {
    return {nullptr, kFcastErrorCreateFile, Status::InvalidArgument("blocks wider than the code")};
  }
  StatusOr<LockedTemporary> temporary =
      CreateLockedTemporary((std::filesystem::path(folder) / kTemporaryPrefix).string() + "XXXXXX",
                            "cannot create a file in " + folder);
  if (!temporary.ok()) return {nullptr, kFcastErrorCreateFile, temporary.status()};
  std::unique_ptr<IncomingFile> file(new IncomingFile(layout, budget));
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
  const std::size_t chunks = (layout.BlockCount() + kChunkBlocks - 1) / kChunkBlocks;
  file->chunks_.resize(chunks);
  file->chunksWhole_.resize(chunks);
  file->Charge(chunks * sizeof(std::unique_ptr<Chunk>) + chunks / 8);
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

const IncomingFile::Block& IncomingFile::BlockAt(std::uint32_t block) const {
  static const Block kBlank{};
  static const Block kWhole = [] {
    Block whole;
    whole.done = true;
    return whole;
  }();
  const std::unique_ptr<Chunk>& chunk = chunks_[block / kChunkBlocks];
  if (chunk) return chunk->blocks[block % kChunkBlocks];
  return chunksWhole_[block / kChunkBlocks] ? kWhole : kBlank;
}

bool IncomingFile::EnsureGroup(std::uint32_t group) {
  const std::uint32_t first = layout_.GroupFirstBlock(group);
  const std::uint32_t last = first + layout_.GroupSize(group) - 1;
  for (std::uint32_t c = first / kChunkBlocks; c <= last / kChunkBlocks; ++c) {
    if (chunks_[c] || chunksWhole_[c]) continue;
    if (!Take(sizeof(Chunk))) return false;
    chunks_[c] = std::make_unique<Chunk>();
  }
  return true;
}

bool IncomingFile::Take(std::uint64_t bytes) {
  if (!budget_->Take(bytes)) return false;
  held_ += bytes;
  return true;
}

template <typename T>
bool IncomingFile::RoomForOneMore(std::vector<T>& standIns) {
  if (standIns.size() < standIns.capacity()) return true;
  const std::size_t more = std::max<std::size_t>(4, standIns.capacity());
  if (!Take(more * sizeof(T))) return false;
  standIns.reserve(standIns.capacity() + more);
  return true;
}

void IncomingFile::EraseGroup(GroupMap::iterator group) {
  Release(kGroupEntryBytes + group->second.capacity() * sizeof(GroupStandIn));
  groups_.erase(group);
}

void IncomingFile::Charge(std::uint64_t bytes) {
  budget_->Charge(bytes);
  held_ += bytes;
}

void IncomingFile::Release(std::uint64_t bytes) {
  budget_->Release(bytes);
  held_ -= bytes;
}

void IncomingFile::Occupy(Block& block, std::uint32_t place) {
  if (block.taken.test(place)) return;
  block.taken.set(place);
  ++symbolsHeld_;
}

void IncomingFile::Vacate(Block& block, std::uint32_t place) {
  if (!block.taken.test(place)) return;
  block.taken.reset(place);
  --symbolsHeld_;
}

void IncomingFile::Stored() {
  if (++storedSinceProgress_ == kProgressSymbols) {
    storedSinceProgress_ = 0;
    lastProgress_ = std::chrono::steady_clock::now();
  }
}

void IncomingFile::EnsureScratch() {
  if (!scratch_.empty()) return;
  scratch_.resize(std::size_t{layout_.K()} * layout_.SymbolSize());
  repair_.resize(scratch_.size());
  Charge(2 * scratch_.size());
}

std::uint64_t IncomingFile::Outstanding() const { return layout_.FileSize() - bytesDone_; }

bool IncomingFile::WritePlace(std::uint32_t block, std::uint32_t place, const std::uint8_t* data) {
  return WriteAt(fd_.Get(), data, layout_.SymbolSize(), layout_.Offset(block, place));
}

bool IncomingFile::MovePlace(Place from, Place to) {
  EnsureScratch();
  return ReadAt(fd_.Get(), repair_.data(), layout_.SymbolSize(),
                layout_.Offset(from.block, from.place)) &&
         WritePlace(to.block, to.place, repair_.data());
}

std::optional<std::uint32_t> IncomingFile::FreePlace(std::uint32_t index) const {
  const Block& block = BlockAt(index);
  const std::uint32_t k = layout_.SourceSymbols(index);
  if (block.done) return std::nullopt;
  std::uint32_t place = 0;
  while (place < k && block.taken.test(place)) ++place;
  if (place == k) return std::nullopt;
  return place;
}

std::optional<IncomingFile::Place> IncomingFile::FreePlaceInGroup(
    std::uint32_t group, std::optional<std::uint32_t> except) const {
  const std::uint32_t first = layout_.GroupFirstBlock(group);
  for (std::uint32_t b = first; b < first + layout_.GroupSize(group); ++b) {
    if (b == except) continue;
    if (const auto place = FreePlace(b)) return Place{b, *place};
  }
  return std::nullopt;
}

bool IncomingFile::EvictGroupSymbol(Place at) {
  auto& symbols = groups_.at(layout_.GroupOf(at.block));
  const auto standIn = std::find_if(symbols.begin(), symbols.end(), [at](const GroupStandIn& s) {
    return s.block == at.block && s.place == at.place;
  });
  Vacate(MutableBlock(at.block), at.place);
  const std::optional<Place> to = FreePlaceInGroup(layout_.GroupOf(at.block), at.block);
  if (!to) {
    symbols.erase(standIn);
    return true;
  }
  if (!MovePlace(at, *to)) return false;
  standIn->block = to->block;
  standIn->place = static_cast<std::uint8_t>(to->place);
  Occupy(MutableBlock(to->block), to->place);
  return true;
}

std::optional<std::uint32_t> IncomingFile::MakeRoom(std::uint32_t index) {
  if (const auto place = FreePlace(index)) return place;
  // Every place is taken, and the block is incomplete: some hold group symbols.
  const auto symbols = groups_.find(layout_.GroupOf(index));
  if (symbols == groups_.end()) return std::nullopt;
  for (const GroupStandIn& s : symbols->second) {
    if (s.block == index) {
      const std::uint32_t place = s.place;
      if (!EvictGroupSymbol({index, place})) return std::nullopt;
      return place;
    }
  }
  return std::nullopt;
}

IncomingFile::Result IncomingFile::Accept(const SymbolPacket& symbol) {
  if (symbol.block >= layout_.BlockCount() || symbol.symbolId >= layout_.N() ||
      symbol.data.size() != layout_.SymbolSize()) {
    return Result::kIgnored;
  }
  if (BlockAt(symbol.block).done || !EnsureGroup(layout_.GroupOf(symbol.block))) {
    return Result::kIgnored;
  }
  Block& block = MutableBlock(symbol.block);
  const std::uint32_t k = layout_.SourceSymbols(symbol.block);
  const std::uint32_t id = symbol.symbolId;
  if (id < k) {
    if (block.have.test(id)) return Result::kIgnored;
    if (block.taken.test(id)) {
      // Another symbol stands in this place: a repair symbol moves to another place of the
      // block, a group symbol to any free place of the group.
      auto standIn = std::find_if(block.repair.begin(), block.repair.end(),
                                  [id](const StandIn& s) { return s.place == id; });
      if (standIn == block.repair.end()) {
        if (!EvictGroupSymbol({symbol.block, id})) return Result::kFailed;
      } else {
        const std::optional<std::uint32_t> place = MakeRoom(symbol.block);
        if (!place || !MovePlace({symbol.block, id}, {symbol.block, *place})) {
          return Result::kFailed;
        }
        standIn->place = static_cast<std::uint8_t>(*place);
        Occupy(block, *place);
      }
    }
    if (!WritePlace(symbol.block, id, symbol.data.data())) return Result::kFailed;
    block.have.set(id);
    Occupy(block, id);
    ++block.sources;
  } else {
    for (const StandIn& held : block.repair) {
      if (held.id == id) return Result::kIgnored;
    }
    if (!RoomForOneMore(block.repair)) return Result::kIgnored;
    const std::optional<std::uint32_t> place = MakeRoom(symbol.block);
    if (!place || !WritePlace(symbol.block, *place, symbol.data.data())) return Result::kFailed;
    block.repair.push_back({static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(*place)});
    Occupy(block, *place);
  }
  Stored();
  return Settle(symbol.block);
}

IncomingFile::Result IncomingFile::Accept(const GroupSymbolPacket& symbol) {
  if (symbol.group >= layout_.GroupCount() || symbol.symbolId >= layout_.N() ||
      symbol.data.size() != layout_.SymbolSize()) {
    return Result::kIgnored;
  }
  const auto held = groups_.find(symbol.group);
  if (held != groups_.end()) {
    for (const GroupStandIn& s : held->second) {
      if (s.id == symbol.symbolId && s.combination == symbol.combination) return Result::kIgnored;
    }
  }
  // Only while a block of the group lacks symbols, and then it has a free place.
  const std::optional<Place> place = FreePlaceInGroup(symbol.group, std::nullopt);
  if (!place || !EnsureGroup(symbol.group)) return Result::kIgnored;
  if (held == groups_.end() && !Take(kGroupEntryBytes)) return Result::kIgnored;
  std::vector<GroupStandIn>& symbols = groups_[symbol.group];
  if (!RoomForOneMore(symbols)) return Result::kIgnored;
  if (!WritePlace(place->block, place->place, symbol.data.data())) return Result::kFailed;
  symbols.push_back({static_cast<std::uint8_t>(symbol.symbolId), symbol.combination,
                     static_cast<std::uint8_t>(place->place), place->block});
  Occupy(MutableBlock(place->block), place->place);
  Stored();
  return Progress(symbol.group);
}

std::uint32_t IncomingFile::Shortfall(std::uint32_t group) const {
  std::uint32_t shortfall = 0;
  const std::uint32_t first = layout_.GroupFirstBlock(group);
  for (std::uint32_t b = first; b < first + layout_.GroupSize(group); ++b) {
    const Block& block = BlockAt(b);
    if (!block.done) {
      shortfall += layout_.SourceSymbols(b) - block.sources -
                   static_cast<std::uint32_t>(block.repair.size());
    }
  }
  return shortfall;
}

void IncomingFile::Done(std::uint32_t index) {
  const std::uint32_t c = index / kChunkBlocks;
  Chunk& chunk = *chunks_[c];
  Block& block = chunk.blocks[index % kChunkBlocks];
  block.done = true;
  // Every place of a whole block counts, the rebuilt ones included.
  symbolsHeld_ += layout_.SourceSymbols(index) - block.taken.count();
  Release(block.repair.capacity() * sizeof(StandIn));
  block.repair = {};
  ++blocksDone_;
  bytesDone_ += layout_.BlockBytes(index);
  // A chunk of whole blocks is only their "done": its state goes.
  if (++chunk.done == std::min(kChunkBlocks, layout_.BlockCount() - c * kChunkBlocks)) {
    chunks_[c].reset();
    chunksWhole_[c] = true;
    Release(sizeof(Chunk));
  }
}

IncomingFile::Result IncomingFile::Settle(std::uint32_t index) {
  const Block& block = BlockAt(index);
  const std::uint32_t group = layout_.GroupOf(index);
  if (block.sources + block.repair.size() >= layout_.SourceSymbols(index)) {
    // Whole on its own: every place holds one of its own symbols.
    if (block.sources < layout_.SourceSymbols(index) && !Rebuild(index)) return Result::kFailed;
    Done(index);
  }
  return Progress(group);
}

IncomingFile::Result IncomingFile::Progress(std::uint32_t group) {
  const std::uint32_t shortfall = Shortfall(group);
  const auto held = groups_.find(group);
  if (held != groups_.end()) {
    if (shortfall == 0) {
      EraseGroup(held);
    } else if (held->second.size() >= shortfall && !RebuildGroup(group)) {
      return Result::kFailed;
    }
  }
  if (!AdvanceHash()) return Result::kFailed;
  return Ready() ? Result::kComplete : Result::kStored;
}

void IncomingFile::LearnDigest(const Sha256Digest& digest) {
  if (!sha256_) sha256_ = digest;
}

bool IncomingFile::Describes(const DescriptorPacket& descriptor) const {
  return descriptor.fileSize == descriptor_.fileSize &&
         descriptor.symbolSize == descriptor_.symbolSize &&
         descriptor.sourceSymbols == descriptor_.sourceSymbols &&
         descriptor.symbolIds == descriptor_.symbolIds &&
         descriptor.groupBlocks == descriptor_.groupBlocks && descriptor.name == descriptor_.name;
}

bool IncomingFile::Rebuild(std::uint32_t index) {
  EnsureScratch();
  Block& block = MutableBlock(index);
  const std::uint32_t k = layout_.SourceSymbols(index);
  const std::size_t symbolSize = layout_.SymbolSize();
  if (!ReadAt(fd_.Get(), scratch_.data(), std::size_t{k} * symbolSize, layout_.Offset(index, 0))) {
    return false;
  }
  std::uint8_t* sources[kMaxSymbolsPerBlock];
  std::uint8_t missing[kMaxSymbolsPerBlock];
  std::uint8_t repairIds[kMaxSymbolsPerBlock];
  const std::uint8_t* repair[kMaxSymbolsPerBlock];
  std::size_t missingCount = 0;
  for (std::uint32_t j = 0; j < k; ++j) {
    sources[j] = &scratch_[j * symbolSize];
    if (!block.have.test(j)) missing[missingCount++] = static_cast<std::uint8_t>(j);
  }
  // The repair symbols leave the places that the rebuilt source symbols fill.
  for (std::size_t r = 0; r < block.repair.size(); ++r) {
    repairIds[r] = block.repair[r].id;
    std::uint8_t* copy = &repair_[r * symbolSize];
    std::memcpy(copy, sources[block.repair[r].place], symbolSize);
    repair[r] = copy;
  }
  if (!code_->Decode(static_cast<int>(k), symbolSize, sources, {missing, missingCount},
                     {repairIds, block.repair.size()}, repair)) {
    return false;
  }
  for (std::size_t m = 0; m < missingCount; ++m) {
    if (!WritePlace(index, missing[m], sources[missing[m]])) return false;
  }
  return true;
}

bool IncomingFile::RebuildGroup(std::uint32_t group) {
  const std::uint32_t first = layout_.GroupFirstBlock(group);
  const std::uint32_t size = layout_.GroupSize(group);
  const std::uint32_t k = layout_.SourceSymbols(first);
  const std::size_t symbolSize = layout_.SymbolSize();
  auto& symbols = groups_.at(group);
  // The group's places, then a copy of every stand-in, which leave the places they fill.
  std::size_t standIns = symbols.size();
  for (std::uint32_t b = first; b < first + size; ++b) standIns += BlockAt(b).repair.size();
  const std::size_t capacity = groupScratch_.capacity();
  groupScratch_.resize((std::size_t{size} * k + standIns) * symbolSize);
  Charge(groupScratch_.capacity() - capacity);
  const auto placeAt = [&](std::size_t index) { return &groupScratch_[index * symbolSize]; };
  if (!ReadAt(fd_.Get(), groupScratch_.data(), std::size_t{size} * k * symbolSize,
              layout_.Offset(first, 0))) {
    return false;
  }
  std::size_t copies = std::size_t{size} * k;
  const auto copyOut = [&](std::uint32_t block, std::uint32_t place) {
    std::uint8_t* copy = placeAt(copies++);
    std::memcpy(copy, placeAt(std::size_t{block - first} * k + place), symbolSize);
    return copy;
  };
  std::vector<std::vector<std::uint8_t*>> places(size);
  std::vector<std::vector<std::uint8_t>> missing(size);
  std::vector<std::vector<std::uint8_t>> repairIds(size);
  std::vector<std::vector<const std::uint8_t*>> repair(size);
  std::vector<GroupCoder::Block> blocks(size);
  for (std::uint32_t i = 0; i < size; ++i) {
    const Block& block = BlockAt(first + i);
    for (std::uint32_t j = 0; j < k; ++j) {
      places[i].push_back(placeAt(std::size_t{i} * k + j));
      if (!block.done && !block.have.test(j)) missing[i].push_back(static_cast<std::uint8_t>(j));
    }
    for (const StandIn& s : block.repair) {
      repairIds[i].push_back(s.id);
      repair[i].push_back(copyOut(first + i, s.place));
    }
    blocks[i] = {places[i].data(), missing[i], repairIds[i], repair[i].data()};
  }
  std::vector<GroupCoder::GroupSymbol> equations;
  for (const GroupStandIn& s : symbols) {
    equations.push_back({s.id, s.combination, copyOut(s.block, s.place)});
  }
  std::vector<std::size_t> useless;
  if (!groupCoder_.Solve(static_cast<int>(k), symbolSize, blocks, equations, &useless)) {
    for (auto it = useless.rbegin(); it != useless.rend(); ++it) {
      const GroupStandIn& s = symbols[*it];
      Vacate(MutableBlock(s.block), s.place);
      symbols.erase(symbols.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    return true;
  }
  for (std::uint32_t i = 0; i < size; ++i) {
    for (std::uint8_t m : missing[i]) {
      if (!WritePlace(first + i, m, places[i][m])) return false;
    }
    if (!BlockAt(first + i).done) Done(first + i);
  }
  EraseGroup(groups_.find(group));
  return true;
}

bool IncomingFile::AdvanceHash() {
  while (blocksHashed_ < layout_.BlockCount() && BlockAt(blocksHashed_).done) {
    EnsureScratch();
    const auto bytes = static_cast<std::size_t>(layout_.BlockBytes(blocksHashed_));
    if (!ReadAt(fd_.Get(), scratch_.data(), bytes, layout_.Offset(blocksHashed_, 0))) return false;
    hash_.Update({scratch_.data(), bytes});
    ++blocksHashed_;
  }
  return true;
}

long IncomingFile::Finish() {
  if (!AdvanceHash() || !Ready()) return kFcastErrorWrite;
  if (hash_.Final() != sha256_) return kFcastErrorChecksum;
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
