#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fcast/engine/FileLayout.h"

namespace ondavox::fcast {

// Reads the symbols of a file laid out as |layout| (the file itself, or a repair file laid out
// like it) in the sender's interleaved order: position by position, across every block. It keeps
// for each block a run of up to kMaxRunSymbols consecutive symbols, read with one pread, so that
// a turn reads the file in long reads rather than one symbol at a time; runs are shortened so
// that all of them together stay within a byte budget (a file of many blocks gets short runs;
// with runs of one symbol, one buffer serves every block). Owned by the sending thread.
class InterleavedReader {
 public:
  static constexpr std::uint32_t kMaxRunSymbols = 64;
  static constexpr std::size_t kDefaultBudget = std::size_t{16} << 20;

  explicit InterleavedReader(const FileLayout& layout, std::size_t budgetBytes = kDefaultBudget);
  InterleavedReader(const InterleavedReader&) = delete;
  InterleavedReader& operator=(const InterleavedReader&) = delete;

  // Symbols in a block's run.
  std::uint32_t RunSymbols() const { return runSymbols_; }
  // Starts a pass over |fd|, whose symbols are its first |bytes| bytes followed by zeros up to
  // the last whole symbol (the file's size for the file, every symbol's bytes for a repair
  // file). |fd| must stay open during the pass.
  void Begin(int fd, std::uint64_t bytes);
  // The symbolSize bytes of symbol |position| of |block|, valid until the block's next run is
  // read; nullptr when the read fails. A block's positions are asked for in increasing order,
  // and with runs of one symbol, each symbol before the next of any block.
  const std::uint8_t* At(std::uint32_t block, std::uint32_t position);

 private:
  // Reads the run of |block| that starts at |position| into its buffer.
  bool ReadRun(std::uint32_t block, std::uint32_t position, std::uint8_t* run);

  const FileLayout layout_;
  const std::uint32_t runSymbols_;
  std::vector<std::uint8_t> runs_;
  // The first position of each block's run in memory (a marker when none is).
  std::vector<std::uint32_t> runStart_;
  int fd_ = -1;
  std::uint64_t bytes_ = 0;
};

}  // namespace ondavox::fcast
