#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "fcast/engine/Packet.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"

namespace ondavox::fcast {

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

// The data carousel: sends one file to a multicast group, round after round, at a paced rate.
// Round 1 carries the file's source symbols; each later round carries, for every block, k
// symbols that continue through the block's symbol ids (fresh repair symbols first, cycling
// when the ids are used up), so every packet helps every receiver whatever it lost: the
// block's own first few, then, pooled over groups of a few blocks, group symbols
// (CarouselWindow), which make up for whichever block of the group lost most. A round is a
// series of sweeps over the whole file, each sending a few positions (or group symbols) of
// every block (or group), so that each block gets its first repair symbols early in the
// round; within a sweep, windows of blocks are sent with their symbols interleaved across
// the blocks, which spreads a burst of loss over many blocks. A descriptor packet (file id, name,
// size, layout, SHA-256) goes at each round's start and then every few dozen packets, for late
// joiners. The file is hashed on a thread of its own while the first round goes out; descriptors
// carry the digest from the moment it is known, and no round ends before one that carries it.
//
// Owns the socket, the sending thread and the hashing thread. Its methods are called from one
// controlling thread (Statistics from any thread); the thread reads the file and sends.
class CarouselSender {
 public:
  // A sender for |options|, or nothing (and |error|) when the options or the socket fail.
  static std::unique_ptr<CarouselSender> Create(const SenderOptions& options, std::string* error);
  ~CarouselSender();
  CarouselSender(const CarouselSender&) = delete;
  CarouselSender& operator=(const CarouselSender&) = delete;

  // Ends any transfer in progress, opens |path| and starts sending it. False (and |error|)
  // when the file cannot be opened or is too large.
  bool SendFile(const std::string& path, std::string* error);
  // Ends the transfer in progress; returns when the thread has ended.
  void Stop();
  SenderStatistics Statistics() const;
  // True when the planned rounds have all been sent (never with rounds == 0), or the thread
  // ended on an error.
  bool Finished() const { return finished_.load(); }
  // Waits up to |timeout| for Finished().
  bool WaitFinished(std::chrono::milliseconds timeout);
  // The largest block size used with |plannedRounds|.
  static int ChooseK(int plannedRounds);

 private:
  CarouselSender(const SenderOptions& options, Socket socket);
  void Run(int fd, std::uint64_t size, std::string name);

  const SenderOptions options_;
  Socket socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};

  std::atomic<std::int64_t> fileUnits_{0};
  std::atomic<std::int64_t> repairUnits_{0};
  std::atomic<std::int64_t> packets_{0};
  std::atomic<std::int64_t> rounds_{0};
  std::atomic<std::int64_t> bytes_{0};
  std::atomic<std::int64_t> firstSendNs_{0};  // steady clock; 0 until the first datagram
  std::atomic<std::int64_t> endNs_{0};        // steady clock; 0 while sending

  Mutex mu_;
  CondVar finishedCv_;
};

}  // namespace ondavox::fcast
