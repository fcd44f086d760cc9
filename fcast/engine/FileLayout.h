#pragma once

#include <cstdint>
#include <optional>

namespace ondavox::fcast {

// How a file is cut into symbols and blocks: symbols of symbolSize bytes (even; the last one
// padded with zeros), grouped into as few blocks of at most k source symbols as hold them, the
// symbols shared out evenly (the leading blocks hold one more than the others), each block
// coded on its own with the WideCode: its source ids, then repair ids from its stride on. Even
// blocks matter: a short last block would be the one that loss finishes off, since every block
// gets as many repair symbols per round as it has source symbols. A value type; any thread.
class FileLayout {
 public:
  // Receivers refuse layouts with more blocks than this, whatever the disk space, and track at
  // most this many blocks over all the files they receive at once.
  static constexpr std::uint64_t kMaxBlocks = std::uint64_t{1} << 20;

  // The layout of a file, or nothing when the values do not make one (a symbol size that is
  // zero or odd, k of zero or above kWideMaxSourceSymbols, too many blocks).
  static std::optional<FileLayout> Make(std::uint64_t fileSize, std::uint32_t symbolSize,
                                        std::uint32_t k);

  std::uint64_t FileSize() const { return fileSize_; }
  std::uint32_t SymbolSize() const { return symbolSize_; }
  // The most source symbols a block holds.
  std::uint32_t K() const { return k_; }
  std::uint64_t SymbolCount() const { return symbols_; }
  std::uint32_t BlockCount() const { return blocks_; }
  // Source symbols in |block|.
  std::uint32_t SourceSymbols(std::uint32_t block) const;
  // Index in the file of the first source symbol of |block|.
  std::uint64_t FirstSymbol(std::uint32_t block) const;
  // Byte offset in the file of source symbol |id| of |block|, and its length in the file (the
  // symbol size, or less for the file's last symbol).
  std::uint64_t Offset(std::uint32_t block, std::uint32_t id) const;
  std::uint32_t Length(std::uint32_t block, std::uint32_t id) const;
  // File bytes covered by |block|.
  std::uint64_t BlockBytes(std::uint32_t block) const;

 private:
  std::uint64_t fileSize_ = 0;
  std::uint32_t symbolSize_ = 0;
  std::uint32_t k_ = 0;
  std::uint64_t symbols_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint32_t shortBlockSymbols_ = 0;  // symbols of the blocks after the longer ones
  std::uint32_t longBlocks_ = 0;         // leading blocks with one symbol more
};

}  // namespace ondavox::fcast
