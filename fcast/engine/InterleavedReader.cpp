#include "fcast/engine/InterleavedReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fcast/engine/PositionedIo.h"

namespace ondavox::fcast {
namespace {

constexpr std::uint32_t kNoRun = std::numeric_limits<std::uint32_t>::max();

std::uint32_t RunSymbolsWithin(const FileLayout& layout, std::size_t budgetBytes) {
  const std::uint64_t perPosition =
      std::max<std::uint64_t>(1, std::uint64_t{layout.BlockCount()} * layout.SymbolSize());
  const std::uint64_t fit = budgetBytes / perPosition;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
      fit, 1, std::min(InterleavedReader::kMaxRunSymbols, std::max(layout.K(), 1u))));
}

}  // namespace

InterleavedReader::InterleavedReader(const FileLayout& layout, std::size_t budgetBytes)
    : layout_(layout), runSymbols_(RunSymbolsWithin(layout, budgetBytes)) {
  const std::size_t buffers = runSymbols_ == 1 ? 1 : layout_.BlockCount();
  runs_.resize(buffers * runSymbols_ * layout_.SymbolSize());
  runStart_.assign(layout_.BlockCount(), kNoRun);
}

void InterleavedReader::Begin(int fd, std::uint64_t bytes) {
  fd_ = fd;
  bytes_ = bytes;
  std::fill(runStart_.begin(), runStart_.end(), kNoRun);
}

const std::uint8_t* InterleavedReader::At(std::uint32_t block, std::uint32_t position) {
  const std::size_t symbolSize = layout_.SymbolSize();
  const std::size_t buffer = runSymbols_ == 1 ? 0 : block;
  std::uint8_t* run = runs_.data() + buffer * runSymbols_ * symbolSize;
  std::uint32_t& start = runStart_[block];
  if (runSymbols_ == 1 || start == kNoRun || position < start || position >= start + runSymbols_) {
    start = position - position % runSymbols_;
    if (!ReadRun(block, start, run)) {
      start = kNoRun;
      return nullptr;
    }
  }
  return run + std::size_t{position - start} * symbolSize;
}

bool InterleavedReader::ReadRun(std::uint32_t block, std::uint32_t position, std::uint8_t* run) {
  const std::size_t symbolSize = layout_.SymbolSize();
  const std::uint32_t count = std::min(runSymbols_, layout_.SourceSymbols(block) - position);
  const std::size_t want = std::size_t{count} * symbolSize;
  const std::uint64_t offset = layout_.Offset(block, position);
  const std::size_t have =
      offset >= bytes_ ? 0
                       : static_cast<std::size_t>(std::min<std::uint64_t>(want, bytes_ - offset));
  if (have != 0 && !ReadAt(fd_, run, have, offset)) return false;
  std::memset(run + have, 0, want - have);
  return true;
}

}  // namespace ondavox::fcast
