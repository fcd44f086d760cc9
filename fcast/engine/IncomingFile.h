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

namespace ondavox::fcast {

// One file being received: a temporary file in the download folder, as long as the file's
// symbols end to end (the last one padded until the file is complete), that every symbol
// received is written into. A source symbol goes to its own place; a repair symbol stands in
// the place of one of its block's missing source symbols, a group symbol in that of a missing
// source symbol of one of its group's blocks (and either moves when that source symbol comes
// after all). So the receiver holds no symbol data in memory whatever the file's size, its
// loss and the order the sender chose, and disk space is the only bound. A block is rebuilt as
// soon as it holds as many distinct symbols as it has source symbols, a group's blocks
// together as soon as its group symbols make up for their shortfall (GroupCoder); when every
// block is whole and the file's SHA-256 is known (a descriptor may come without it while the
// sender still hashes), the SHA-256 is checked and the file renamed to its final name. The
// hash runs along as the file's leading blocks become whole, so little is left to read back
// at the end. The temporary file is removed unless the file was completed.
//
// Owned and used by the receiver's thread only.
class IncomingFile {
 public:
  enum class Result { kIgnored, kStored, kComplete, kFailed };

  // Creates the temporary file for |descriptor| in |folder|, after checking that the file fits
  // the free disk space (|reserved| bytes are promised to other files already). Nothing and
  // |errorCode| (an FcastError) on failure, with nothing left behind.
  static std::unique_ptr<IncomingFile> Create(const std::string& folder,
                                              const DescriptorPacket& descriptor,
                                              const FileLayout& layout, std::uint64_t reserved,
                                              long* errorCode);
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
  int fd_ = -1;
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
