#include "fcast/IncomingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/FcastComponent.h"
#include "fcast/FileName.h"
#include "fcast/PositionedIo.h"
#include "fcast/Sha256.h"

namespace ondavox::fcast {

IncomingFile::IncomingFile(const FileLayout& layout)
    : layout_(layout), lastActivity_(std::chrono::steady_clock::now()) {}

std::unique_ptr<IncomingFile> IncomingFile::Create(const std::string& folder,
                                                   const DescriptorPacket& descriptor,
                                                   const FileLayout& layout, std::uint64_t reserved,
                                                   long* errorCode) {
  struct statvfs disk {};
  if (::statvfs(folder.c_str(), &disk) != 0) {
    *errorCode = kFcastErrorCreateFile;
    return nullptr;
  }
  const std::uint64_t available = std::uint64_t{disk.f_bavail} * disk.f_frsize;
  // While it is received, the file holds every symbol whole, the last one padded.
  const std::uint64_t footprint = layout.SymbolCount() * layout.SymbolSize();
  if (footprint > available || footprint + reserved > available) {
    *errorCode = kFcastErrorDiskSpace;
    return nullptr;
  }
  std::unique_ptr<IncomingFile> file(new IncomingFile(layout));
  file->fileId_ = descriptor.fileId;
  file->name_ = SanitizeFileName(descriptor.name, descriptor.fileId);
  file->finalPath_ = (std::filesystem::path(folder) / file->name_).string();
  file->sha256_ = descriptor.sha256;
  std::string pattern = (std::filesystem::path(folder) / ".fcast-XXXXXX").string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    *errorCode = kFcastErrorCreateFile;
    return nullptr;
  }
  file->fd_ = fd;
  file->tempPath_ = pattern;
  if (::fchmod(fd, 0644) != 0 || ::ftruncate(fd, static_cast<off_t>(footprint)) != 0) {
    *errorCode = kFcastErrorCreateFile;
    return nullptr;  // the destructor removes the temporary file
  }
  file->blocks_.resize(layout.BlockCount());
  file->scratch_.resize(std::size_t{layout.K()} * layout.SymbolSize());
  file->repair_.resize(file->scratch_.size());
  return file;
}

IncomingFile::~IncomingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!finished_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
}

std::uint64_t IncomingFile::Outstanding() const { return layout_.FileSize() - bytesDone_; }

bool IncomingFile::WritePlace(std::uint32_t block, std::uint32_t place, const std::uint8_t* data) {
  return WriteAt(fd_, data, layout_.SymbolSize(), layout_.Offset(block, place));
}

std::uint32_t IncomingFile::FreePlace(const Block& block, std::uint32_t k) {
  std::uint32_t place = 0;
  while (place < k && block.taken.test(place)) ++place;
  return place;
}

IncomingFile::Result IncomingFile::Accept(const SymbolPacket& symbol) {
  if (symbol.block >= layout_.BlockCount() || symbol.symbolId >= layout_.N() ||
      symbol.data.size() != layout_.SymbolSize()) {
    return Result::kIgnored;
  }
  Block& block = blocks_[symbol.block];
  if (block.done) return Result::kIgnored;
  lastActivity_ = std::chrono::steady_clock::now();
  const std::uint32_t k = layout_.SourceSymbols(symbol.block);
  const std::uint32_t id = symbol.symbolId;
  if (id < k) {
    if (block.have.test(id)) return Result::kIgnored;
    if (block.taken.test(id)) {
      // A repair symbol stands in this place: it moves to a free one (the block is incomplete,
      // so one is free, and it is not this one).
      auto standIn = std::find_if(block.repair.begin(), block.repair.end(),
                                  [id](const StandIn& s) { return s.place == id; });
      const std::uint32_t place = FreePlace(block, k);
      if (!ReadAt(fd_, repair_.data(), layout_.SymbolSize(), layout_.Offset(symbol.block, id)) ||
          !WritePlace(symbol.block, place, repair_.data())) {
        return Result::kFailed;
      }
      standIn->place = static_cast<std::uint8_t>(place);
      block.taken.set(place);
    }
    if (!WritePlace(symbol.block, id, symbol.data.data())) return Result::kFailed;
    block.have.set(id);
    block.taken.set(id);
    ++block.sources;
  } else {
    for (const StandIn& held : block.repair) {
      if (held.id == id) return Result::kIgnored;
    }
    const std::uint32_t place = FreePlace(block, k);
    if (!WritePlace(symbol.block, place, symbol.data.data())) return Result::kFailed;
    block.repair.push_back({static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(place)});
    block.taken.set(place);
  }
  if (block.sources + block.repair.size() < k) return Result::kStored;
  if (block.sources < k && !Rebuild(symbol.block)) return Result::kFailed;
  block.done = true;
  block.repair = {};
  ++blocksDone_;
  bytesDone_ += layout_.BlockBytes(symbol.block);
  if (symbol.block == blocksHashed_ && !AdvanceHash()) return Result::kFailed;
  return Ready() ? Result::kComplete : Result::kStored;
}

void IncomingFile::LearnDigest(const Sha256Digest& digest) {
  if (!sha256_) sha256_ = digest;
}

bool IncomingFile::Rebuild(std::uint32_t index) {
  Block& block = blocks_[index];
  const std::uint32_t k = layout_.SourceSymbols(index);
  const std::size_t symbolSize = layout_.SymbolSize();
  if (!ReadAt(fd_, scratch_.data(), std::size_t{k} * symbolSize, layout_.Offset(index, 0))) {
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

bool IncomingFile::AdvanceHash() {
  while (blocksHashed_ < layout_.BlockCount() && blocks_[blocksHashed_].done) {
    const auto bytes = static_cast<std::size_t>(layout_.BlockBytes(blocksHashed_));
    if (!ReadAt(fd_, scratch_.data(), bytes, layout_.Offset(blocksHashed_, 0))) return false;
    hash_.Update({scratch_.data(), bytes});
    ++blocksHashed_;
  }
  return true;
}

long IncomingFile::Finish() {
  if (!AdvanceHash() || !Ready()) return kFcastErrorWrite;
  if (hash_.Final() != sha256_) return kFcastErrorChecksum;
  if (::ftruncate(fd_, static_cast<off_t>(layout_.FileSize())) != 0) return kFcastErrorWrite;
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return kFcastErrorRename;
  finished_ = true;
  return kFcastErrorNone;
}

}  // namespace ondavox::fcast
