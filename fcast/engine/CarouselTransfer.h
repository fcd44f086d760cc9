#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fcast/engine/BackgroundHash.h"
#include "fcast/engine/CarouselSender.h"
#include "fcast/engine/DatagramBatch.h"
#include "fcast/engine/FileLayout.h"
#include "fcast/engine/InterleavedReader.h"
#include "fcast/engine/Pacer.h"
#include "fcast/engine/Packet.h"
#include "fcast/engine/RepairFiles.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {

// One file's transfer: its rounds of descriptors and turns of interleaved symbols, in the order
// fcast/README.md describes. Owns the open file, its background hash, its repair files and the
// reader of the turns; made by the CarouselSender, run on its sending thread, stopped from the
// controlling thread.
class CarouselTransfer {
 public:
  // How a file of |size| bytes is cut when sent with |options|; nothing when it is too large.
  static std::optional<FileLayout> Layout(std::uint64_t size, const SenderOptions& options);

  // A transfer of |file| (|size| bytes, sent under |name|) on the connected socket |socket|,
  // its descriptors signed with |signingKey| unless null, counting into |counters|; the socket,
  // the key and the counters must outlive it. REQUIRES: Layout(size, options).
  CarouselTransfer(const SenderOptions& options, int socket, UniqueFd file, std::uint64_t size,
                   const std::string& name, const Ed25519Key* signingKey, SenderCounters& counters);
  CarouselTransfer(const CarouselTransfer&) = delete;
  CarouselTransfer& operator=(const CarouselTransfer&) = delete;

  // Sends round after round; returns when the planned rounds are sent, on Stop(), or when the
  // file cannot be read. The sending thread.
  void Run();
  // Ends Run and the hash. Any thread.
  void Stop();

 private:
  // Round |round_|: descriptors, then its turns, then the digest if it has not gone out yet.
  bool SendRound();
  // Every symbol of turn |turn|, position by position across the blocks.
  bool SendTurn(std::uint64_t turn);
  // Whether turn |turn| will be sent unless the transfer is stopped.
  bool Planned(std::uint64_t turn) const;
  bool SendDescriptor();
  bool SendDescriptors(std::uint64_t count);
  // Waits for the digest when no descriptor has carried it yet, then sends it a few times.
  bool SendDigestBeforeRoundEnds();
  // Sends the symbol packet of |length| bytes written into out_.Next(), and a descriptor when
  // one is due.
  bool CommitSymbol(std::size_t length, bool repair);
  // Encodes descriptor_ into descriptorBytes_, signed when there is a key: once when the
  // transfer starts and once when the digest is known, never per datagram.
  void EncodeOwnDescriptor();
  // Puts the digest into the descriptor once the hash is done, or waits for it with |wait|.
  // False when the file could not be read or the transfer was stopped while waiting.
  bool TakeDigest(bool wait);

  const int rounds_;
  const Ed25519Key* const signingKey_;
  SenderCounters& counters_;
  const UniqueFd file_;
  const FileLayout layout_;
  std::atomic<bool> stop_{false};
  DescriptorPacket descriptor_;
  std::vector<std::uint8_t> descriptorBytes_;
  // Passes over the file in a round: several for a small file, each with fresh symbol ids.
  const std::uint64_t passes_;
  const std::uint64_t perRound_;  // symbol packets in a round
  const std::uint64_t descriptorEvery_;
  const std::int64_t unitsPerRound_;
  const std::uint64_t repairSkew_;  // RepairSkew
  InterleavedReader reader_;
  Pacer pacer_;
  DatagramBatch out_;
  std::int64_t round_ = 0;
  std::uint64_t sinceDescriptor_ = 0;
  Pacer::Clock::time_point lastDescriptor_;
  std::uint64_t sentInRound_ = 0;
  std::uint64_t repairPackets_ = 0;
  BackgroundHash hash_;  // declared after file_: ends before the file is closed
  // Made when the transfer has repair turns; declared after file_ like hash_.
  std::unique_ptr<RepairFiles> repair_;
};

}  // namespace ondavox::fcast
