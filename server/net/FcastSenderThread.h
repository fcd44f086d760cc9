#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/FcastComponent.h"
#include "platform/Mutex.h"
#include "platform/WakeUp.h"
#include "server/data/Playlist.h"
#include "server/data/ServerEvent.h"
#include "server/net/DeliveryLedger.h"

namespace ondavox::server {

// What the Fcast sender needs of the server: the playlist, the announcement of a coming
// transfer, the ledger of deliveries, and the delivery of events. Implemented by the server
// runner; any thread.
class FcastSenderHost {
 public:
  virtual Playlist& playlist() = 0;
  virtual DeliveryLedger& deliveries() = 0;
  virtual void SendFCAST() = 0;
  virtual void PostEvent(const ServerEvent& event) = 0;

 protected:
  ~FcastSenderHost() = default;
};

// The worker that broadcasts the playlist: it takes the first entry, announces the transfer
// (again about once a second while the file is sent, for clients that lost the announcement),
// sends the entry's file through the Fcast sender object as many rounds as configured, removes
// the entry and posts PLAYLIST_UPDATED (13); then the next entry. It sleeps while the playlist
// is empty. An entry whose file cannot be sent is removed with a LOG_FAILURE event naming the
// file, so it is never retried in a loop. Without a sender object (the component could not be
// created) it reports that once and leaves the playlist alone. The sender object signs with
// the server's key and sends from the interface of the settings.
//
// Created and started by the runner's Start on the window thread, woken from any thread,
// closed by the runner's Close. A file in progress at Close is abandoned and stays at the
// head of the playlist.
class FcastSenderThread {
 public:
  // Makes the sender object, or returns null when the component is not available.
  using SenderFactory = std::function<std::shared_ptr<FcastSender>()>;

  // The transfer under way: the playlist entry, its file's size, and the sender's counts as of
  // its last report (about once a second).
  struct Progress {
    CDocInfo entry;
    long long fileSize = 0;
    long long bytesSent = 0;  // datagram bytes, repair data and headers included
    long round = 1;           // counted from 1
    long rounds = 0;          // configured: the file is sent rounds x fileSize bytes
  };

  struct Settings {
    std::string fcastIP;
    int32_t fcastPort = 0;
    int32_t fcastRound = 0;
    int32_t fcastRate = 0;  // kbit/s; the sender object receives fcastRate * 1024 / 8 bytes/s
    std::string interfaceAddress;  // the sending interface's IPv4 address; empty: the system's
    std::vector<unsigned char> signingSeed;  // the Ed25519 seed that signs; empty: unsigned
  };

  // The factory over the Fcast component, loaded from the first of |candidates| that loads;
  // |message| shows its creation failures.
  static SenderFactory ComponentFactory(
      FcastMessageHook message, std::vector<std::string> candidates = FcastLibraryCandidates());

  FcastSenderThread(FcastSenderHost& host, Settings settings, std::shared_ptr<FcastSender> sender);
  ~FcastSenderThread();  // Close()
  FcastSenderThread(const FcastSenderThread&) = delete;
  FcastSenderThread& operator=(const FcastSenderThread&) = delete;

  void Resume();
  // Makes the thread look at the playlist again (after an entry was added). Any thread.
  void Wake() { wake_.Signal(); }
  // The next transfer starts no sooner than |delay| from now, so that an announcement made
  // meanwhile (the new playlist) is sent before the transfer's own. Any thread.
  void DelayNextTransfer(std::chrono::milliseconds delay);
  // The transfer under way; nothing between transfers. Any thread.
  std::optional<Progress> progress() const EXCLUDES(progressMu_);
  // Stops the sender object and ends the thread. Any thread but its own; once.
  void Close();

 private:
  void Run();
  // Sends |entry| completely; false when its file could not be sent at all.
  bool Send(const CDocInfo& entry);
  // Waits up to |timeout| unless Close is under way; false when it is.
  bool Pause(std::chrono::milliseconds timeout);
  // Waits for the next check of the transfer under way; |first| also announces the transfer
  // three more times meanwhile. False when the thread is stopping.
  bool AwaitPoll(bool first);
  // Removes |entry| from the playlist (the first equal entry, where it stands now).
  void Remove(const CDocInfo& entry);
  void Report(std::optional<Progress> progress) EXCLUDES(progressMu_);

  FcastSenderHost& host_;
  const Settings settings_;
  const std::shared_ptr<FcastSender> sender_;  // null when the component is missing
  WakeUp wake_;
  std::atomic<bool> stopping_{false};
  // steady_clock ticks before which no transfer starts.
  std::atomic<std::chrono::steady_clock::rep> notBefore_{0};
  mutable Mutex progressMu_;
  std::optional<Progress> progress_ GUARDED_BY(progressMu_);
  std::thread thread_;
};

}  // namespace ondavox::server
