#include "fcast/FileLayout.h"

#include <algorithm>

#include "fcast/Packet.h"

namespace ondavox::fcast {

std::optional<FileLayout> FileLayout::Make(std::uint64_t fileSize, std::uint32_t symbolSize,
                                           std::uint32_t k, std::uint32_t n) {
  if (symbolSize == 0 || k == 0 || k > n || n > static_cast<std::uint32_t>(kMaxSymbolsPerBlock)) {
    return std::nullopt;
  }
  const std::uint64_t symbols = (fileSize + symbolSize - 1) / symbolSize;
  const std::uint64_t blocks = (symbols + k - 1) / k;
  if (blocks > kMaxBlocks) return std::nullopt;
  FileLayout layout;
  layout.fileSize_ = fileSize;
  layout.symbolSize_ = symbolSize;
  layout.k_ = k;
  layout.n_ = n;
  layout.symbols_ = symbols;
  layout.blocks_ = static_cast<std::uint32_t>(blocks);
  return layout;
}

std::uint32_t FileLayout::SourceSymbols(std::uint32_t block) const {
  const std::uint64_t first = std::uint64_t{block} * k_;
  if (first >= symbols_) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(k_, symbols_ - first));
}

std::uint64_t FileLayout::Offset(std::uint32_t block, std::uint32_t id) const {
  return (std::uint64_t{block} * k_ + id) * symbolSize_;
}

std::uint32_t FileLayout::Length(std::uint32_t block, std::uint32_t id) const {
  const std::uint64_t offset = Offset(block, id);
  if (offset >= fileSize_) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(symbolSize_, fileSize_ - offset));
}

std::uint64_t FileLayout::BlockBytes(std::uint32_t block) const {
  const std::uint64_t begin = Offset(block, 0);
  if (begin >= fileSize_) return 0;
  return std::min<std::uint64_t>(std::uint64_t{k_} * symbolSize_, fileSize_ - begin);
}

}  // namespace ondavox::fcast
