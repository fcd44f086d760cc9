#include "fcast/engine/CarouselWindow.h"

#include <algorithm>
#include <cstring>

#include "fcast/engine/Packet.h"
#include "fcast/engine/PositionedIo.h"

namespace ondavox::fcast {

CarouselWindow::CarouselWindow(const FileLayout& layout, std::uint32_t capacity)
    : layout_(layout),
      // Whole groups.
      capacity_((std::max(capacity, 1u) + layout.GroupBlocks() - 1) / layout.GroupBlocks() *
                layout.GroupBlocks()),
      source_(std::size_t{capacity_} * layout.K() * layout.SymbolSize()),
      repair_(source_.size()),
      sourcePointers_(std::size_t{capacity_} * layout.K()) {}

std::uint32_t CarouselWindow::SymbolId(std::uint64_t turn, std::uint32_t sourceSymbols,
                                       std::uint32_t position) {
  return static_cast<std::uint32_t>((turn * sourceSymbols + position) % kMaxSymbolsPerBlock);
}

std::uint32_t CarouselWindow::SweepEnd(std::uint32_t from, std::uint32_t k) {
  return std::min(k, from + std::max<std::uint32_t>(4, from / 8));
}

std::uint32_t CarouselWindow::GroupSweepEnd(std::uint32_t from, std::uint32_t total) {
  return std::min(total, from + std::max<std::uint32_t>(4, from / 4));
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

std::uint32_t CarouselWindow::GroupSymbols(std::uint32_t blocks, std::uint32_t k) {
  return k > kOwnPositions ? blocks * (k - kOwnPositions) : 0;
}

GroupCoder::GroupSymbol CarouselWindow::GroupSymbolAt(std::uint64_t turn, std::uint32_t k,
                                                      std::uint32_t index) const {
  const std::uint32_t positions = k - kOwnPositions;
  const std::uint32_t pass = index / positions;
  const std::uint32_t position = index % positions;
  GroupCoder::GroupSymbol symbol;
  symbol.id = static_cast<std::uint8_t>(SymbolId(turn, k, kOwnPositions + position));
  symbol.combination = static_cast<std::uint8_t>(
      ((turn - 1) * layout_.GroupBlocks() +
       (pass + position / kPositionsPerCombination) % layout_.GroupBlocks()) %
      kMaxCombinations);
  return symbol;
}

bool CarouselWindow::LoadGroups(int fd, std::uint32_t firstGroup) {
  firstGroup_ = firstGroup;
  groups_ = std::min(GroupCapacity(), layout_.GroupCount() - firstGroup);
  first_ = layout_.GroupFirstBlock(firstGroup);
  count_ = layout_.GroupFirstBlock(firstGroup + groups_) - first_;
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (!ReadSource(fd, i, 0, layout_.SourceSymbols(first_ + i))) return false;
  }
  return true;
}

void CarouselWindow::EncodeGroups(std::uint64_t turn, std::uint32_t from, std::uint32_t to) {
  groupFrom_ = from;
  groupTo_ = to;
  groupSymbols_.resize(std::size_t{groups_} * (to - from) * layout_.SymbolSize());
  std::vector<const std::uint8_t* const*> blocks;
  std::vector<GroupCoder::GroupSymbol> symbols;
  std::vector<std::uint8_t*> out;
  for (std::uint32_t g = 0; g < groups_; ++g) {
    const std::uint32_t first = layout_.GroupFirstBlock(firstGroup_ + g);
    const std::uint32_t size = layout_.GroupSize(firstGroup_ + g);
    const std::uint32_t kb = layout_.SourceSymbols(first);
    const std::uint32_t end = std::min(to, GroupSymbols(size, kb));
    if (from >= end) continue;
    blocks.clear();
    for (std::uint32_t b = first; b < first + size; ++b) {
      const std::uint32_t i = b - first_;
      const std::uint8_t** places = &sourcePointers_[std::size_t{i} * layout_.K()];
      for (std::uint32_t j = 0; j < kb; ++j) places[j] = SourceAt(i, j);
      blocks.push_back(places);
    }
    symbols.clear();
    out.clear();
    for (std::uint32_t s = from; s < end; ++s) {
      symbols.push_back(GroupSymbolAt(turn, kb, s));
      out.push_back(
          &groupSymbols_[(std::size_t{g} * (to - from) + (s - from)) * layout_.SymbolSize()]);
    }
    groupCoder_.Encode(static_cast<int>(kb), layout_.SymbolSize(), blocks, symbols, out.data());
  }
}

std::optional<CarouselWindow::GroupSymbol> CarouselWindow::GroupAt(std::uint64_t turn,
                                                                   std::uint32_t i,
                                                                   std::uint32_t index) const {
  if (i >= groups_ || index < groupFrom_ || index >= groupTo_) return std::nullopt;
  const std::uint32_t group = firstGroup_ + i;
  const std::uint32_t kb = layout_.SourceSymbols(layout_.GroupFirstBlock(group));
  if (index >= GroupSymbols(layout_.GroupSize(group), kb)) return std::nullopt;
  const GroupCoder::GroupSymbol choice = GroupSymbolAt(turn, kb, index);
  const std::size_t slot = std::size_t{i} * (groupTo_ - groupFrom_) + (index - groupFrom_);
  return GroupSymbol{group,
                     choice.id,
                     choice.combination,
                     {&groupSymbols_[slot * layout_.SymbolSize()], layout_.SymbolSize()}};
}

}  // namespace ondavox::fcast
