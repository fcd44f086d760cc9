#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fcast/code/ErasureCode.h"
#include "fcast/code/GroupCode.h"
#include "fcast/engine/FileLayout.h"

namespace ondavox::fcast {

// A window of consecutive blocks of the file being sent: their source symbols, read from the
// file, and the repair or group symbols of the current turn, computed a few at a time just
// before they are sent. In turn t, position j of a block of kb source symbols carries symbol
// id (t * kb + j) mod 255: turn 0 is the source, later turns walk on through the repair ids
// and wrap around to the source ids once the code's ids are used up.
//
// Turn 0 sends every position of every block. A later turn (a repair turn) sends each block's
// own symbols for its first kOwnPositions positions only; the symbols of its other positions
// go into group symbols (GroupCoder). A group of g blocks of kb sources sends g passes over
// those positions, each position once per pass, in one of G combinations (G the layout's group
// size; they change from turn to turn): group symbol s carries the id of position
// kOwnPositions + r, r = s mod (kb - kOwnPositions), in combination
// (s / (kb - kOwnPositions) + r / kPositionsPerCombination) mod G. So a group sends as many
// symbols as its blocks would; a block that lost more than its share draws on the symbols
// that its luckier neighbours do not need; the first pass brings it a fresh id with every
// symbol; and the combination changes every few positions, so that the symbols also tell
// apart blocks that lost the same positions (those of one combination are the symbols of a
// single virtual block, the combination's sum of the group's blocks). A sweep's few symbols
// of a group are then those of one or two virtual blocks: the sender computes them from one
// sum of the group's blocks each, instead of one symbol of every block per group symbol.
//
// Owned by the sender's thread.
class CarouselWindow {
 public:
  struct Symbol {
    std::uint32_t block = 0;
    std::uint16_t id = 0;
    bool repair = false;
    std::span<const std::uint8_t> data;
  };

  // Bytes of file data in one window: a few blocks, so that computing the repair symbols of a
  // sweep's positions for the whole window, a block at a time while its source symbols stay in
  // the processor's cache, is a short piece of work between paced sends. (A burst of loss is
  // spread by the sweeps: within one, a block loses at most the sweep's few positions.)
  static constexpr std::size_t kWindowBytes = 1 << 20;
  // Positions of a repair turn that carry the blocks' own symbols. At 5% loss most blocks are
  // whole after them; the few that are not take group symbols.
  static constexpr std::uint32_t kOwnPositions = 8;
  static constexpr std::uint32_t kPositionsPerCombination = 8;

  struct GroupSymbol {
    std::uint32_t group = 0;
    std::uint16_t id = 0;
    std::uint8_t combination = 0;
    std::span<const std::uint8_t> data;
  };

  // A window of up to |capacity| blocks of |layout|.
  CarouselWindow(const FileLayout& layout, std::uint32_t capacity);

  std::uint32_t Capacity() const { return capacity_; }
  // Makes the window the blocks from |first| on (as many as fit and exist) and reads from |fd|
  // what positions [from, to) need in |turn|: only their own source symbols when they carry
  // nothing but source symbols, the whole block when any of them is a repair symbol. False
  // when a read fails or the file is shorter than its layout.
  bool Load(int fd, std::uint32_t first, std::uint64_t turn, std::uint32_t from, std::uint32_t to);
  // Computes the repair symbols that positions [from, to) of the window's blocks carry in
  // |turn|; the window must have been loaded for them.
  void Encode(std::uint64_t turn, std::uint32_t from, std::uint32_t to);
  // The symbol of the window's block |i| at |position| in |turn|; nothing when that block has
  // fewer source symbols or the window fewer blocks. Repair symbols must have been encoded.
  std::optional<Symbol> At(std::uint64_t turn, std::uint32_t i, std::uint32_t position) const;

  // Groups that fit the window: it holds at least one group.
  std::uint32_t GroupCapacity() const { return capacity_ / layout_.GroupBlocks(); }
  // Makes the window the whole blocks of the groups from |firstGroup| on, as many as fit and
  // exist. False when a read fails or the file is shorter than its layout.
  bool LoadGroups(int fd, std::uint32_t firstGroup);
  // Computes group symbols [from, to) of the window's groups in repair turn |turn|.
  void EncodeGroups(std::uint64_t turn, std::uint32_t from, std::uint32_t to);
  // Group symbol |index| of the window's group |i| in |turn|; nothing past the group's symbols
  // or the window's groups. It must have been encoded.
  std::optional<GroupSymbol> GroupAt(std::uint64_t turn, std::uint32_t i,
                                     std::uint32_t index) const;
  // Group symbols in a repair turn of a group of |blocks| blocks of |k| source symbols.
  static std::uint32_t GroupSymbols(std::uint32_t blocks, std::uint32_t k);

  static std::uint32_t SymbolId(std::uint64_t turn, std::uint32_t sourceSymbols,
                                std::uint32_t position);
  // The end of the sweep that starts at position |from| of blocks of at most |k| symbols. A
  // turn is sent in sweeps, each a few positions of every block of the file before the next
  // positions of any, so that after loss every block gets its first repair symbols early in
  // the round, not the file's last window only at the round's end. Sweeps lengthen as the
  // positions advance (an eighth of the positions before them, at least 4): the first repair
  // symbols, which every block needs, come in short sweeps, the later ones, which only the
  // unluckiest blocks need, in longer sweeps that reread the file fewer times. (With a
  // quarter, blocks of 127 are reread 14 times a round instead of 21, but at 20% loss the
  // blocks still incomplete around position 40 wait through sweeps of 10 positions.)
  static std::uint32_t SweepEnd(std::uint32_t from, std::uint32_t k);
  // The same for the group symbols of a repair turn, |total| a group's most: sweeps of 4
  // symbols a group, then a quarter of those before them. Each sweep reads the whole file
  // again and sums each group's blocks once or twice; lengthening by an eighth, as the own
  // positions do, would take 32 sweeps a turn instead of 20 for blocks of 127, and gain a
  // hundredth of a round at 20% loss in simulation, nothing at 5%.
  static std::uint32_t GroupSweepEnd(std::uint32_t from, std::uint32_t total);

 private:
  std::uint8_t* SourceAt(std::uint32_t i, std::uint32_t id);
  // Reads source symbols [from, to) of the window's block |i|, zero-padding the file's last.
  bool ReadSource(int fd, std::uint32_t i, std::uint32_t from, std::uint32_t to);
  std::uint8_t* RepairAt(std::uint32_t i, std::uint32_t position);
  // The id and combination of group symbol |index| of a group of blocks of |k| in |turn|.
  GroupCoder::GroupSymbol GroupSymbolAt(std::uint64_t turn, std::uint32_t k,
                                        std::uint32_t index) const;

  const FileLayout layout_;
  const std::uint32_t capacity_;
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::vector<std::uint8_t> source_;
  std::vector<std::uint8_t> repair_;  // by position, as the turn sends them
  const std::unique_ptr<ErasureCode> code_ = MakeErasureCode();
  std::vector<const std::uint8_t*> sourcePointers_;
  std::vector<std::uint8_t*> repairPointers_;
  std::vector<std::uint8_t> repairIds_;
  // The groups of a window loaded by groups, and their group symbols [groupFrom_, groupTo_).
  std::uint32_t firstGroup_ = 0;
  std::uint32_t groups_ = 0;
  std::uint32_t groupFrom_ = 0;
  std::uint32_t groupTo_ = 0;
  std::vector<std::uint8_t> groupSymbols_;
  GroupCoder groupCoder_;
};

}  // namespace ondavox::fcast
