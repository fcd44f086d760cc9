#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fcast/code/ErasureCode.h"
#include "fcast/code/GroupCode.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"
#include "fcast/engine/Sha256.h"
#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {

// One file being received into a locked temporary file in the download folder, symbol by
// symbol, until every block is rebuilt and its SHA-256 checked; then it takes its final name
// (fcast/README.md describes the layout on disk). Owned and used by the receiver's thread only.
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
  // exclusive flock on it for its lifetime. On failure nothing is left behind.
  static Created Create(const std::string& folder, const DescriptorPacket& descriptor,
                        const FileLayout& layout, std::uint64_t reserved);
  // Removes the temporary files in |folder| that no live IncomingFile holds locked: those of a
  // receiver that was killed. Any thread.
  static void RemoveStaleTemporaries(const std::string& folder);
  ~IncomingFile();
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Takes one symbol of this file. kComplete when it made the file whole and ready to finish.
  Result Accept(const SymbolPacket& symbol);
  Result Accept(const GroupSymbolPacket& symbol);
  bool Whole() const { return blocksDone_ == layout_.BlockCount(); }
  // Takes the file's SHA-256 from a later descriptor when the first came without it; the
  // first digest known is kept.
  void LearnDigest(const Sha256Digest& digest);
  // Whole, with the digest to check it against: Finish may run.
  bool Ready() const { return Whole() && sha256_.has_value(); }
  // Checks the whole file's SHA-256 and gives it its final name. 0, or an FcastError code.
  long Finish();

  std::uint32_t FileId() const { return fileId_; }
  const std::string& Name() const { return name_; }
  std::uint64_t Size() const { return layout_.FileSize(); }
  std::uint32_t BlockCount() const { return layout_.BlockCount(); }
  const std::optional<Sha256Digest>& Digest() const { return sha256_; }
  // Bytes still to be written to disk for this file.
  std::uint64_t Outstanding() const;
  std::chrono::steady_clock::time_point LastActivity() const { return lastActivity_; }

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
    std::bitset<kMaxSymbolsPerBlock> have;   // source ids held in their own places
    std::bitset<kMaxSymbolsPerBlock> taken;  // places holding a symbol of any kind
    std::uint16_t sources = 0;
    bool done = false;
    std::vector<StandIn> repair;
  };
  struct Place {
    std::uint32_t block = 0;
    std::uint32_t place = 0;
  };

  explicit IncomingFile(const FileLayout& layout);
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

  const FileLayout layout_;
  std::uint32_t fileId_ = 0;
  std::string name_;
  std::string finalPath_;
  std::string tempPath_;
  std::optional<Sha256Digest> sha256_;
  UniqueFd fd_;
  bool finished_ = false;
  std::vector<Block> blocks_;
  std::vector<std::vector<GroupStandIn>> groups_;
  std::uint32_t blocksDone_ = 0;
  std::uint64_t bytesDone_ = 0;
  std::uint32_t blocksHashed_ = 0;  // blocks [0, blocksHashed_) are in hash_
  Sha256 hash_;
  std::vector<std::uint8_t> scratch_;  // a block's places
  std::vector<std::uint8_t> repair_;   // a block's repair symbols, out of the places they left
  const std::unique_ptr<ErasureCode> code_ = MakeErasureCode();
  GroupCoder groupCoder_;
  std::vector<std::uint8_t> groupScratch_;  // a group's places, then its stand-ins
  std::chrono::steady_clock::time_point lastActivity_;
};

}  // namespace ondavox::fcast
