#include "fcast/engine/FileLayout.h"

#include <algorithm>

#include "fcast/code/WideCode.h"

namespace ondavox::fcast {

std::optional<FileLayout> FileLayout::Make(std::uint64_t fileSize, std::uint32_t symbolSize,
                                           std::uint32_t k) {
  if (symbolSize == 0 || symbolSize % 2 != 0 || k == 0 || k > kWideMaxSourceSymbols) {
    return std::nullopt;
  }
  const std::uint64_t symbols = (fileSize + symbolSize - 1) / symbolSize;
  const std::uint64_t blocks = (symbols + k - 1) / k;
  if (blocks > kMaxBlocks) return std::nullopt;
  FileLayout layout;
  layout.fileSize_ = fileSize;
  layout.symbolSize_ = symbolSize;
  layout.symbols_ = symbols;
  layout.blocks_ = static_cast<std::uint32_t>(blocks);
  if (blocks != 0) {
    layout.shortBlockSymbols_ = static_cast<std::uint32_t>(symbols / blocks);
    layout.longBlocks_ = static_cast<std::uint32_t>(symbols % blocks);
  }
  // The longest block holds at most k symbols; the layout's k is what it really holds, so
  // both ends derive the same blocks from the descriptor.
  layout.k_ = layout.shortBlockSymbols_ + (layout.longBlocks_ != 0 ? 1 : 0);
  if (layout.k_ == 0) layout.k_ = k;
  return layout;
}

std::uint32_t FileLayout::SourceSymbols(std::uint32_t block) const {
  if (block >= blocks_) return 0;
  return shortBlockSymbols_ + (block < longBlocks_ ? 1 : 0);
}

std::uint64_t FileLayout::FirstSymbol(std::uint32_t block) const {
  return std::uint64_t{block} * shortBlockSymbols_ + std::min(block, longBlocks_);
}

std::uint64_t FileLayout::Offset(std::uint32_t block, std::uint32_t id) const {
  return (FirstSymbol(block) + id) * symbolSize_;
}

std::uint32_t FileLayout::Length(std::uint32_t block, std::uint32_t id) const {
  const std::uint64_t offset = Offset(block, id);
  if (offset >= fileSize_) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(symbolSize_, fileSize_ - offset));
}

std::uint64_t FileLayout::BlockBytes(std::uint32_t block) const {
  const std::uint64_t begin = Offset(block, 0);
  if (begin >= fileSize_) return 0;
  return std::min<std::uint64_t>(std::uint64_t{SourceSymbols(block)} * symbolSize_,
                                 fileSize_ - begin);
}

}  // namespace ondavox::fcast
