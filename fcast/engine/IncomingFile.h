#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fcast/code/WideCode.h"
#include "fcast/engine/FileDigest.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"
#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {

// The bytes of receiving state that the IncomingFiles of one receiver hold, against a limit, so
// that what a receiver keeps in memory is bounded whatever it is sent. Owned by the receiver;
// charged and released on the receiver's thread, read from any thread.
class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
  // Takes |bytes| when they fit under the limit; false, taking nothing, when they do not.
  bool Take(std::uint64_t bytes);
  // Takes |bytes| for what only speeds things up: only while at most half the limit is held.
  bool TakeSpare(std::uint64_t bytes);
  // Takes |bytes| whatever the limit: state too small to refuse.
  void Charge(std::uint64_t bytes) { held_.fetch_add(bytes, std::memory_order_relaxed); }
  void Release(std::uint64_t bytes) { held_.fetch_sub(bytes, std::memory_order_relaxed); }
  std::uint64_t Held() const { return held_.load(std::memory_order_relaxed); }

 private:
  const std::uint64_t limit_;
  std::atomic<std::uint64_t> held_{0};
};

// One file being received into a locked temporary file in the download folder, symbol by
// symbol, until every block is rebuilt and the file's digest checked; then it takes its final
// name (fcast/README.md describes the layout on disk). Its memory grows with the blocks it is
// receiving, not with the size its descriptor announces: the state of a block is made, charged
// to a MemoryBudget, when its first symbol comes, and released when the block is whole. Owned
// and used by the receiver's thread only.
class IncomingFile {
 public:
  enum class Result { kIgnored, kStored, kComplete, kFailed };

  // A file made by Create, or why there is none.
  struct Created {
    std::unique_ptr<IncomingFile> file;
    long error = 0;  // an FcastError; 0 with a file
    Status status;
  };

  // Creates the temporary file for |descriptor| in |folder|, after checking that the file fits
  // the free disk space (|reserved| bytes are promised to other files already), and holds an
  // exclusive flock on it for its lifetime. On failure nothing is left behind. |budget| and
  // |decoder|, when given, must outlive the file; without them the file has a budget of its
  // own, unlimited, and a decoder of its own.
  static Created Create(const std::string& folder, const DescriptorPacket& descriptor,
                        const FileLayout& layout, std::uint64_t reserved,
                        MemoryBudget* budget = nullptr, WideDecoder* decoder = nullptr);
  // The disk space a file of |layout| takes while it is received: every symbol whole, then
  // the symbols' and the blocks' digests.
  static std::uint64_t Footprint(const FileLayout& layout);
  // The bytes free for this user in |folder|'s file system; nothing when it cannot be read.
  static std::optional<std::uint64_t> FreeSpace(const std::string& folder);
  // Removes the temporary files in |folder| that no live IncomingFile holds locked: those of a
  // receiver that was killed. Any thread.
  static void RemoveStaleTemporaries(const std::string& folder);
  ~IncomingFile();
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Takes one symbol of this file. kComplete when it made the file whole and ready to finish;
  // kIgnored when it adds nothing, or when its block's state does not fit the budget.
  Result Accept(const SymbolPacket& symbol);
  // Called on this file's thread every millisecond or so while Accept rebuilds a block, which
  // takes tens of milliseconds, so that the receiver keeps reading its socket meanwhile.
  void SetMeanwhile(std::function<void()> meanwhile) { meanwhile_ = std::move(meanwhile); }
  bool Whole() const { return blocksDone_ == layout_.BlockCount(); }
  // Takes the file's digest from a later descriptor when the first came without it; the
  // first digest known is kept.
  void LearnDigest(const Sha256Digest& digest);
  // Drops the digest known, which a descriptor no longer trusted brought: the file then waits
  // for one from a later descriptor.
  void ForgetDigest() { sha256_.reset(); }
  // True when |descriptor| announces this file: its name, size and layout (not its digest).
  bool Describes(const DescriptorPacket& descriptor) const;
  // Whole, with the digest to check it against: Finish may run.
  bool Ready() const { return Whole() && sha256_.has_value(); }
  // Checks the file's digest and gives it its final name. A different regular file of
  // that name is first kept as the name followed by "~" (KeptPrevious). 0, or an FcastError
  // code.
  long Finish();
  // True when Finish kept the file it replaced.
  bool KeptPrevious() const { return keptPrevious_; }

  std::uint32_t FileId() const { return fileId_; }
  const std::string& Name() const { return name_; }
  std::uint64_t Size() const { return layout_.FileSize(); }
  std::uint32_t BlockCount() const { return layout_.BlockCount(); }
  const std::optional<Sha256Digest>& Digest() const { return sha256_; }
  // Bytes still to be written to disk for this file.
  std::uint64_t Outstanding() const;
  // When the file was made, or last stored kProgressSymbols useful symbols since the time
  // before: a file whose sender trickles symbols makes no progress.
  std::chrono::steady_clock::time_point LastProgress() const { return lastProgress_; }
  static constexpr std::uint32_t kProgressSymbols = 16;
  // Bytes of this file's state charged to its budget.
  std::uint64_t HeldBytes() const { return held_; }
  // Symbols held towards rebuilding the file (one per place taken, every place of a whole
  // block), of the SymbolsNeeded: its source symbols.
  std::uint64_t SymbolsHeld() const { return symbolsHeld_; }
  std::uint64_t SymbolsNeeded() const { return layout_.SymbolCount(); }

 private:
  // A repair symbol kept in the place of a missing source symbol.
  struct StandIn {
    std::uint16_t id = 0;
    std::uint16_t place = 0;
  };
  // Digests of the source symbols received are written to disk in runs of kRun places.
  static constexpr std::uint32_t kRun = 64;
  // Source symbols that come for consecutive places of a block are written together, up to
  // kStretch at a time, from room that the file's blocks share within kMaxStretchBytes.
  static constexpr std::uint32_t kStretch = 16;
  static constexpr std::uint64_t kMaxStretchBytes = std::uint64_t{4} << 20;
  // A block being received: which places hold their own source symbol (have) or any symbol
  // (taken), the stand-ins by id, and the run of digests not yet written.
  struct Block {
    explicit Block(std::uint32_t k);
    std::vector<std::uint64_t> have;
    std::vector<std::uint64_t> taken;
    std::uint32_t sources = 0;  // places that hold their own source symbol
    std::uint32_t held = 0;     // places taken
    std::uint64_t charged = 0;  // bytes of the budget it holds
    std::vector<StandIn> repair;
    std::uint32_t runBase = 0;
    std::uint64_t runMask = 0;
    std::array<SymbolDigest, kRun> run{};
    // Source symbols of places [stretchBase, stretchBase + stretchCount) not yet written, in
    // room for kStretch when the block was given it.
    std::vector<std::uint8_t> stretch;
    std::uint32_t stretchBase = 0;
    std::uint32_t stretchCount = 0;
  };

  IncomingFile(const FileLayout& layout, MemoryBudget* budget, WideDecoder* decoder);
  // The state of |index|, made and charged when missing; null when it does not fit the budget.
  Block* EnsureBlock(std::uint32_t index);
  // Charges to the budget: Take when the bytes fit under its limit, Charge whatever it holds.
  bool Take(std::uint64_t bytes);
  void Charge(std::uint64_t bytes);
  void Release(std::uint64_t bytes);
  // Counts a stored symbol towards the file's progress.
  void Stored();
  Result AcceptSource(std::uint32_t index, Block& block, std::uint32_t id,
                      std::span<const std::uint8_t> data);
  Result AcceptRepair(std::uint32_t index, Block& block, std::uint16_t id,
                      std::span<const std::uint8_t> data);
  // The highest place of |block| that holds nothing. REQUIRES: one exists.
  std::uint32_t FreePlace(const Block& block) const;
  // Takes a free place of |block|.
  void Occupy(Block& block, std::uint32_t place);
  // Keeps the digest of source symbol |place| of block |index|, for the block's digest.
  bool RecordDigest(std::uint32_t index, Block& block, std::uint32_t place,
                    const SymbolDigest& digest);
  bool FlushRun(std::uint32_t index, Block& block);
  // Writes source symbol |place| of |block|, now or with the places next to it.
  bool WriteSource(std::uint32_t index, Block& block, std::uint32_t place,
                   std::span<const std::uint8_t> data);
  bool FlushStretch(std::uint32_t index, Block& block);
  // Rebuilds |block|'s missing source symbols when it needs to, writes its digest and drops its
  // state. False on a disk error.
  bool Complete(std::uint32_t index, Block& block);
  // Rebuilds the missing source symbols of |block| from the k symbols in its places, and puts
  // their digests in digests_.
  bool Rebuild(std::uint32_t index, const Block& block);
  void Meanwhile() const {
    if (meanwhile_) meanwhile_();
  }
  // Byte offsets in the temporary file of the symbols' digests and the blocks' digests.
  std::uint64_t SymbolDigestOffset(std::uint32_t index, std::uint32_t place) const;
  std::uint64_t BlockDigestOffset(std::uint32_t index) const;
  // The digest of the whole blocks' digests on disk; nothing on a read error.
  std::optional<Sha256Digest> FileDigest() const;
  // Moves a different regular file at finalPath_ to its "~" name before the rename replaces it.
  void KeepPrevious();
  // True when the file at |path| holds exactly the file's bytes (REQUIRES: of its size). Reads
  // both files through.
  bool SameAsFile(const std::string& path);

  const FileLayout layout_;
  std::uint32_t fileId_ = 0;
  DescriptorPacket descriptor_;  // the first, without its digest and signature
  std::string name_;
  std::string finalPath_;
  std::string tempPath_;
  std::optional<Sha256Digest> sha256_;
  UniqueFd fd_;
  bool finished_ = false;
  bool keptPrevious_ = false;
  std::unique_ptr<MemoryBudget> ownBudget_;  // when Create was given none
  MemoryBudget* const budget_;
  std::unique_ptr<WideDecoder> ownDecoder_;  // when Create was given none
  WideDecoder* const decoder_;
  std::function<void()> meanwhile_;
  std::uint64_t held_ = 0;
  std::uint64_t stretchBytes_ = 0;  // the blocks' room for stretches
  std::unordered_map<std::uint32_t, std::unique_ptr<Block>> blocks_;  // in progress
  std::vector<bool> whole_;
  std::uint32_t blocksDone_ = 0;
  std::uint64_t bytesDone_ = 0;
  std::uint64_t symbolsHeld_ = 0;      // places taken, and the places of whole blocks
  std::vector<std::uint8_t> scratch_;  // symbols read for a rebuild
  std::vector<std::uint8_t> rebuilt_;  // a rebuild's missing symbols, the early passes' bytes
  std::vector<SymbolDigest> digests_;  // a block's symbols' digests
  std::chrono::steady_clock::time_point lastProgress_;
  std::uint32_t storedSinceProgress_ = 0;
};

}  // namespace ondavox::fcast
