#pragma once

#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fcast/code/ErasureCode.h"
#include "fcast/code/GroupCode.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"
#include "fcast/engine/Sha256.h"
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
  // Takes |bytes| whatever the limit: state too small to refuse.
  void Charge(std::uint64_t bytes) { held_.fetch_add(bytes, std::memory_order_relaxed); }
  void Release(std::uint64_t bytes) { held_.fetch_sub(bytes, std::memory_order_relaxed); }
  std::uint64_t Held() const { return held_.load(std::memory_order_relaxed); }

 private:
  const std::uint64_t limit_;
  std::atomic<std::uint64_t> held_{0};
};

// One file being received into a locked temporary file in the download folder, symbol by
// symbol, until every block is rebuilt and its SHA-256 checked; then it takes its final name
// (fcast/README.md describes the layout on disk). Its memory grows with the symbols it takes,
// not with the size its descriptor announces: the state of a block is made, 64 blocks at a
// time and charged to a MemoryBudget, when a symbol of its group comes, and released when the
// 64 blocks are whole. Owned and used by the receiver's thread only.
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
  // exclusive flock on it for its lifetime. On failure nothing is left behind. |budget|, when
  // given, must outlive the file; without it the file has a budget of its own, unlimited.
  static Created Create(const std::string& folder, const DescriptorPacket& descriptor,
                        const FileLayout& layout, std::uint64_t reserved,
                        MemoryBudget* budget = nullptr);
  // The disk space a file of |layout| takes while it is received: every symbol whole.
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
  Result Accept(const GroupSymbolPacket& symbol);
  bool Whole() const { return blocksDone_ == layout_.BlockCount(); }
  // Takes the file's SHA-256 from a later descriptor when the first came without it; the
  // first digest known is kept.
  void LearnDigest(const Sha256Digest& digest);
  // Drops the digest known, which a descriptor no longer trusted brought: the file then waits
  // for one from a later descriptor.
  void ForgetDigest() { sha256_.reset(); }
  // True when |descriptor| announces this file: its name, size and layout (not its digest).
  bool Describes(const DescriptorPacket& descriptor) const;
  // Whole, with the digest to check it against: Finish may run.
  bool Ready() const { return Whole() && sha256_.has_value(); }
  // Checks the whole file's SHA-256 and gives it its final name. A different regular file of
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
  struct StandIn {
    std::uint8_t id = 0;     // repair symbol id
    std::uint8_t place = 0;  // source id whose place it occupies
  };
  struct GroupStandIn {
    std::uint8_t id = 0;
    std::uint8_t combination = 0;
    std::uint8_t place = 0;
    std::uint32_t block = 0;
  };
  struct Block {
    std::bitset<kMaxCodeSourceSymbols> have;   // source ids held in their own places
    std::bitset<kMaxCodeSourceSymbols> taken;  // places holding a symbol of any kind
    std::uint16_t sources = 0;
    bool done = false;
    std::vector<StandIn> repair;
  };
  static constexpr std::uint32_t kChunkBlocks = 64;
  struct Chunk {
    Block blocks[kChunkBlocks];
    std::uint32_t done = 0;
  };
  // A group's stand-in group symbols, and what the entry is charged for.
  static constexpr std::uint64_t kGroupEntryBytes = 64;
  struct Place {
    std::uint32_t block = 0;
    std::uint32_t place = 0;
  };

  IncomingFile(const FileLayout& layout, MemoryBudget* budget);
  // The state of |block|: a blank one before its chunk is made, a whole one after its chunk
  // was released.
  const Block& BlockAt(std::uint32_t block) const;
  // The state of |block|, whose chunk EnsureGroup made.
  Block& MutableBlock(std::uint32_t block) {
    return chunks_[block / kChunkBlocks]->blocks[block % kChunkBlocks];
  }
  // Makes the chunks of |group|'s blocks; false when they do not fit the budget.
  bool EnsureGroup(std::uint32_t group);
  using GroupMap = std::unordered_map<std::uint32_t, std::vector<GroupStandIn>>;
  // Charges to the budget: Take when the bytes fit under its limit, Charge whatever it holds.
  bool Take(std::uint64_t bytes);
  void Charge(std::uint64_t bytes);
  void Release(std::uint64_t bytes);
  // Room in |standIns| for one more, its growth taken from the budget; false when it does not
  // fit.
  template <typename T>
  bool RoomForOneMore(std::vector<T>& standIns);
  void EraseGroup(GroupMap::iterator group);
  // Takes or frees a place of |block|, counting the symbols held.
  void Occupy(Block& block, std::uint32_t place);
  void Vacate(Block& block, std::uint32_t place);
  // Counts a stored symbol towards the file's progress.
  void Stored();
  // The buffers that rebuild and hash a block, made on first use.
  void EnsureScratch();
  bool WritePlace(std::uint32_t block, std::uint32_t place, const std::uint8_t* data);
  bool MovePlace(Place from, Place to);
  // The lowest place of |block| that holds nothing, if any.
  std::optional<std::uint32_t> FreePlace(std::uint32_t block) const;
  // A free place in |group|'s blocks, other than |except|'s when given.
  std::optional<Place> FreePlaceInGroup(std::uint32_t group,
                                        std::optional<std::uint32_t> except) const;
  // Takes the group symbol out of |at| to another block of its group, or drops it when the
  // group has no free place (it then holds more symbols than it could use). False on a disk
  // error.
  bool EvictGroupSymbol(Place at);
  // A free place in incomplete |block|, made by moving a group symbol out when there is none.
  std::optional<std::uint32_t> MakeRoom(std::uint32_t block);
  // Source symbols the incomplete blocks of |group| lack beyond their own repair symbols.
  std::uint32_t Shortfall(std::uint32_t group) const;
  // Marks |block| whole.
  void Done(std::uint32_t block);
  // What the block's new symbol leads to: its own rebuild, its group's, or nothing yet.
  Result Settle(std::uint32_t block);
  // Rebuilds |group| jointly when it can, and hashes what has become whole.
  Result Progress(std::uint32_t group);
  // Rebuilds |block|'s missing source symbols from its symbols on disk; false on a disk error.
  bool Rebuild(std::uint32_t block);
  // Rebuilds |group|'s blocks jointly when its group symbols make up for their shortfall;
  // drops the group symbols that add nothing when they do not. False on a disk error.
  bool RebuildGroup(std::uint32_t group);
  // Hashes the whole blocks that follow the hashed part; false on a read error.
  bool AdvanceHash();
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
  std::uint64_t held_ = 0;
  std::vector<std::unique_ptr<Chunk>> chunks_;  // null: not made yet, or released when whole
  std::vector<bool> chunksWhole_;
  // Stand-in group symbols by group, for the groups that hold some.
  GroupMap groups_;
  std::uint32_t blocksDone_ = 0;
  std::uint64_t bytesDone_ = 0;
  std::uint64_t symbolsHeld_ = 0;   // places taken, and the places of whole blocks
  std::uint32_t blocksHashed_ = 0;  // blocks [0, blocksHashed_) are in hash_
  Sha256 hash_;
  std::vector<std::uint8_t> scratch_;  // a block's places
  std::vector<std::uint8_t> repair_;   // a block's repair symbols, out of the places they left
  const std::unique_ptr<ErasureCode> code_ = MakeErasureCode();
  GroupCoder groupCoder_;
  std::vector<std::uint8_t> groupScratch_;  // a group's places, then its stand-ins
  std::chrono::steady_clock::time_point lastProgress_;
  std::uint32_t storedSinceProgress_ = 0;
};

}  // namespace ondavox::fcast
