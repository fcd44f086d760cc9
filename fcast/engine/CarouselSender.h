#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fcast/engine/Ed25519.h"
#include "fcast/engine/Packet.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/Status.h"

namespace ondavox::fcast {

class CarouselTransfer;

struct SenderOptions {
  std::string group;
  std::uint16_t port = 0;
  std::string interface;  // IPv4 address of the sending interface; empty: the system's choice
  int ttl = 1;
  std::int64_t rateBytesPerSecond = 0;  // UDP payload bytes per second
  // Rounds the code is sized for: the block size k is the largest that gives every one of
  // them fresh repair symbols.
  int plannedRounds = 2;
  // Rounds to send before the transfer ends by itself; 0 sends until Stop().
  int rounds = 0;
  std::uint32_t symbolSize = kDefaultSymbolSize;
  // Seed of the Ed25519 key that signs the descriptors; empty: they go unsigned.
  std::vector<std::uint8_t> signingSeed;
};

// Counters of the transfer in progress (or of the last one). "Units" are 1024 bytes of file:
// each round counts the file's size once, so fileUnits reaches (size / 1024) x rounds exactly
// when that many rounds have been sent, and not before.
struct SenderStatistics {
  std::int64_t fileUnits = 0;
  std::int64_t repairUnits = 0;  // the part of fileUnits sent as repair symbols
  std::int64_t packets = 0;
  std::int64_t rounds = 0;  // rounds completed
  std::int64_t bytes = 0;   // UDP payload bytes sent
  double seconds = 0;       // since the first datagram went out
};

// The counters behind SenderStatistics: the sending thread stores them, any thread reads them.
struct SenderCounters {
  std::atomic<std::int64_t> fileUnits{0};
  std::atomic<std::int64_t> repairUnits{0};
  std::atomic<std::int64_t> packets{0};
  std::atomic<std::int64_t> rounds{0};
  std::atomic<std::int64_t> bytes{0};
  std::atomic<std::int64_t> firstSendNs{0};  // steady clock; 0 until the first datagram
  std::atomic<std::int64_t> endNs{0};        // steady clock; 0 while sending

  void Reset();
  // One more datagram of |length| bytes sent.
  void CountDatagram(std::size_t length);
  // Records the first datagram's or the end's time as now.
  void MarkStart();
  void MarkEnd();
  SenderStatistics Snapshot() const;
};

// Sends one file at a time to a multicast group, round after round, at a paced rate, until the
// planned rounds are sent or Stop(); fcast/README.md describes the schedule. Owns the socket,
// the signing key and the transfer's threads; called from one controlling thread (Statistics from
// any thread).
class CarouselSender {
 public:
  // A sender for |options|, or why the options (a signing seed of another size among them) or
  // the socket fail.
  static StatusOr<std::unique_ptr<CarouselSender>> Create(const SenderOptions& options);
  ~CarouselSender();
  CarouselSender(const CarouselSender&) = delete;
  CarouselSender& operator=(const CarouselSender&) = delete;

  // Ends any transfer in progress, opens |path| and starts sending it. Fails when the file
  // cannot be opened or is too large.
  Status SendFile(const std::string& path);
  // Ends the transfer in progress; returns when its threads have ended.
  void Stop();
  SenderStatistics Statistics() const { return counters_.Snapshot(); }
  // True when the planned rounds have all been sent (never with rounds == 0), or the thread
  // ended on an error.
  bool Finished() const { return finished_.load(); }
  // Waits up to |timeout| for Finished().
  bool WaitFinished(std::chrono::milliseconds timeout);

 private:
  CarouselSender(const SenderOptions& options, Socket socket, std::optional<Ed25519Key> signingKey);
  // The sending thread: runs |transfer| to its end.
  void Run(CarouselTransfer* transfer);

  const SenderOptions options_;
  Socket socket_;
  const std::optional<Ed25519Key> signingKey_;  // signs every descriptor when set
  SenderCounters counters_;
  std::unique_ptr<CarouselTransfer> transfer_;  // replaced only while no thread runs
  std::thread thread_;
  std::atomic<bool> finished_{false};

  Mutex mu_;
  CondVar finishedCv_;
};

}  // namespace ondavox::fcast
