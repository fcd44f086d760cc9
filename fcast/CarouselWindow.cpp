#include "fcast/CarouselWindow.h"

#include <algorithm>
#include <cstring>

#include "fcast/Packet.h"
#include "fcast/PositionedIo.h"

namespace ondavox::fcast {

CarouselWindow::CarouselWindow(const FileLayout& layout, std::uint32_t capacity)
    : layout_(layout),
      capacity_(capacity),
      source_(std::size_t{capacity} * layout.K() * layout.SymbolSize()),
      repair_(source_.size()),
      sourcePointers_(layout.K()) {}

std::uint32_t CarouselWindow::SymbolId(std::uint64_t turn, std::uint32_t sourceSymbols,
                                       std::uint32_t position) {
  return static_cast<std::uint32_t>((turn * sourceSymbols + position) % kMaxSymbolsPerBlock);
}

std::uint32_t CarouselWindow::SweepEnd(std::uint32_t from, std::uint32_t k) {
  return std::min(k, from + std::max<std::uint32_t>(4, from / 8));
}

std::uint8_t* CarouselWindow::SourceAt(std::uint32_t i, std::uint32_t id) {
  return &source_[(std::size_t{i} * layout_.K() + id) * layout_.SymbolSize()];
}

std::uint8_t* CarouselWindow::RepairAt(std::uint32_t i, std::uint32_t position) {
  return &repair_[(std::size_t{i} * layout_.K() + position) * layout_.SymbolSize()];
}

bool CarouselWindow::ReadSource(int fd, std::uint32_t i, std::uint32_t from, std::uint32_t to) {
  const std::uint32_t block = first_ + i;
  const std::uint64_t begin = layout_.Offset(block, from);
  const std::uint64_t end = std::min(layout_.Offset(block, to), layout_.FileSize());
  std::uint8_t* base = SourceAt(i, from);
  const auto bytes = static_cast<std::size_t>(end - begin);
  std::memset(base + bytes, 0, std::size_t{to - from} * layout_.SymbolSize() - bytes);
  return ReadAt(fd, base, bytes, begin);
}

bool CarouselWindow::Load(int fd, std::uint32_t first, std::uint64_t turn, std::uint32_t from,
                          std::uint32_t to) {
  first_ = first;
  count_ = std::min(capacity_, layout_.BlockCount() - first);
  for (std::uint32_t i = 0; i < count_; ++i) {
    const std::uint32_t kb = layout_.SourceSymbols(first + i);
    const std::uint32_t end = std::min(to, kb);
    if (from >= end) continue;
    // Ids of consecutive positions are consecutive until they reach the repair ids (and wrap
    // only after them), so positions that carry only source ids carry a run of them.
    const std::uint32_t firstId = SymbolId(turn, kb, from);
    const std::uint32_t lastId = SymbolId(turn, kb, end - 1);
    const bool sourceOnly = firstId < kb && lastId < kb && firstId <= lastId;
    if (!(sourceOnly ? ReadSource(fd, i, firstId, lastId + 1) : ReadSource(fd, i, 0, kb))) {
      return false;
    }
  }
  return true;
}

void CarouselWindow::Encode(std::uint64_t turn, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = 0; i < count_; ++i) {
    const std::uint32_t kb = layout_.SourceSymbols(first_ + i);
    repairIds_.clear();
    repairPointers_.clear();
    for (std::uint32_t j = from; j < std::min(to, kb); ++j) {
      const std::uint32_t id = SymbolId(turn, kb, j);
      if (id < kb) continue;
      repairIds_.push_back(static_cast<std::uint8_t>(id));
      repairPointers_.push_back(RepairAt(i, j));
    }
    if (repairIds_.empty()) continue;
    for (std::uint32_t j = 0; j < kb; ++j) sourcePointers_[j] = SourceAt(i, j);
    code_->Encode(static_cast<int>(kb), layout_.SymbolSize(), sourcePointers_.data(), repairIds_,
                  repairPointers_.data());
  }
}

std::optional<CarouselWindow::Symbol> CarouselWindow::At(std::uint64_t turn, std::uint32_t i,
                                                         std::uint32_t position) const {
  if (i >= count_) return std::nullopt;
  const std::uint32_t kb = layout_.SourceSymbols(first_ + i);
  if (position >= kb) return std::nullopt;
  Symbol symbol;
  symbol.block = first_ + i;
  symbol.id = static_cast<std::uint16_t>(SymbolId(turn, kb, position));
  symbol.repair = symbol.id >= kb;
  const std::size_t index = std::size_t{i} * layout_.K() + (symbol.repair ? position : symbol.id);
  const auto& buffer = symbol.repair ? repair_ : source_;
  symbol.data = {&buffer[index * layout_.SymbolSize()], layout_.SymbolSize()};
  return symbol;
}

}  // namespace ondavox::fcast
