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

#include "common/Defaults.h"
#include "common/MavoraProtocol.h"
#include "platform/Mutex.h"
#include "platform/WakeUp.h"
#include "server/data/Playlist.h"
#include "server/data/ServerEvent.h"
#include "server/data/ServerEventListener.h"
#include "server/net/FcastSenderThread.h"
#include "server/net/MavoraProtocolServer.h"
#include "server/net/SessionThread.h"
#include "server/net/UserSaver.h"

namespace ondavox::server {

class CMULTICASTRunner;
class CTCPRunner;
class DocumentDatabase;
class UserDatabase;

// The hub of the server's networking. It holds references to the two databases, owns the
// playlist, the protocol object, the server data lock and the announcer's wake-up, keeps the
// event listeners, and starts and stops the three workers: the multicast announcer, the TCP
// listener (with its connections) and the Fcast sender.
//
// Created by the server document on the window thread and kept for the program's life.
// AddListener: window thread, before the first Start. Start and Close: the window thread (Close
// also from the thread that handles an accept failure); they never run at the same time.
// Everything else: any thread.
class ServerRunner final : public FcastSenderHost {
 public:
  // Makes the Fcast sender object for each start; by default the Fcast component's.
  using FcastSenderFactory = FcastSenderThread::SenderFactory;

  struct Settings {
    uint16_t tcpPort = kDefaultTcpPort;
    uint16_t multicastBindPort = kDefaultAnnouncementPort;
    std::string multicastIP = std::string(kDefaultAnnouncementGroup);
    uint16_t multicastPort = kDefaultAnnouncementPort;
    std::string fcastIP = std::string(kDefaultFcastGroup);
    int32_t fcastPort = kDefaultFcastPort;
    int32_t fcastRound = kDefaultFcastRounds;
    int32_t fcastRate = kDefaultFcastRate;
    // The IPv4 addresses whose interfaces send the announcements and the files; empty: the
    // system's routes choose.
    std::string multicastInterface;
    std::string fcastInterface;
    // The server's Ed25519 key: the seed that signs the files, and the public key in base64
    // that KEY answers. Empty: files go unsigned and KEY is not known.
    std::vector<unsigned char> signingSeed;
    std::string publicKeyText;
    // Connection limits; 0 or less takes the default: all connections, the soft descriptor
    // limit less kDescriptorReserve; those not logged in yet, a quarter of that; the login time
    // limit, kDefaultLoginTimeout seconds.
    int32_t maxConnections = 0;
    int32_t maxUnauthenticated = 0;
    int32_t loginTimeoutSeconds = 0;
    // Creates each connection's thread.
    SessionThread::CreateFn threadCreate = &::pthread_create;
  };
  // Descriptors kept for the databases, the announcer, the Fcast sender and the trace.
  static constexpr int32_t kDescriptorReserve = 64;
  // A real client sends its first request within a few seconds of connecting.
  static constexpr int32_t kDefaultLoginTimeout = 30;

  ServerRunner(DocumentDatabase& documents, UserDatabase& users,
               FcastSenderFactory fcastSenderFactory = nullptr);
  ~ServerRunner();  // Close()
  ServerRunner(const ServerRunner&) = delete;
  ServerRunner& operator=(const ServerRunner&) = delete;

  // Appends a listener (not owned; it outlives the runner).
  void AddListener(ServerEventListener* listener) { listeners_.push_back(listener); }
  // Hands |event| to every listener in order, on this thread. Inside a ServerDataAccess scope
  // the event is delivered when the scope closes.
  void PostEvent(const ServerEvent& event) override;

  // Hands |fields| to the announcer, replacing any announcement still waiting, and wakes it.
  // Discarded while the server is stopped.
  void SendMULTICAST(MavoraProtocol::Fields fields) EXCLUDES(workersMu_);
  // Announces the playlist: PLAYLIST then the (file, owner) pairs that keep the datagram
  // under 1000 bytes.
  void SendPlaylist();
  // Announces the coming transfer: FCAST, the Fcast group address and port.
  void SendFCAST() override EXCLUDES(workersMu_);

  // Starts the announcer, the listener and the Fcast sender; does nothing while running.
  // First raises the soft descriptor limit to the hard one. Returns once the workers' sockets are
  // set up, so clients may connect at once. Failures of the workers' set-up show only in their
  // trace lines.
  void Start(const Settings& settings) EXCLUDES(workersMu_);
  // Stops the announcer, the listener with every connection, and the Fcast sender, in that
  // order. A second call, while one is under way or after it, does nothing. Must not be called
  // inside a ServerDataAccess scope (connections may be waiting for the lock).
  void Close() EXCLUDES(workersMu_);
  // Close on a thread of its own, for a worker that must stop the server and then end.
  void CloseFromWorker() EXCLUDES(workersMu_);
  // True between Start and Close.
  bool IsRunning() const { return running_.load(); }
  // Wakes the Fcast sender after the playlist grew; nothing while stopped.
  void WakeFcastSender() EXCLUDES(workersMu_);
  // Keeps the Fcast sender from starting a transfer for |delay| (FcastSenderThread::
  // DelayNextTransfer); nothing while stopped.
  void DelayNextTransfer(std::chrono::milliseconds delay) EXCLUDES(workersMu_);
  // The transfer under way; nothing while stopped or between transfers.
  std::optional<FcastSenderThread::Progress> TransferProgress() const EXCLUDES(workersMu_);
  // Live client connections (0 while stopped).
  std::size_t LiveConnections() const EXCLUDES(workersMu_);
  // The server's public key in base64, as of the last Start; empty when it has none.
  std::string PublicKeyText() const EXCLUDES(workersMu_);

  MavoraProtocolServer& protocol() { return protocol_; }
  UserDatabase& users() { return users_; }
  DocumentDatabase& documents() { return documents_; }
  Playlist& playlist() override { return playlist_; }
  DeliveryLedger& deliveries() override { return deliveries_; }
  Mutex& dataLock() { return dataLock_; }
  // Every write of the user database file while the server may run goes through it.
  UserSaver& userSaver() { return userSaver_; }
  WakeUp& multicastWakeUp() { return multicastWakeUp_; }

 private:
  std::vector<ServerEventListener*> listeners_;
  DocumentDatabase& documents_;
  UserDatabase& users_;
  Playlist playlist_;
  DeliveryLedger deliveries_;
  MavoraProtocolServer protocol_;
  const FcastSenderFactory fcastSenderFactory_;
  Mutex dataLock_;
  UserSaver userSaver_;
  WakeUp multicastWakeUp_;

  // Start and Close run one at a time; workersMu_ guards what other threads read meanwhile.
  Mutex lifecycleMu_;
  std::atomic<bool> running_{false};
  mutable Mutex workersMu_;
  std::unique_ptr<CMULTICASTRunner> announcer_ GUARDED_BY(workersMu_);
  std::unique_ptr<CTCPRunner> listener_ GUARDED_BY(workersMu_);
  std::unique_ptr<FcastSenderThread> fcastSender_ GUARDED_BY(workersMu_);
  std::string fcastIP_ GUARDED_BY(workersMu_);
  int32_t fcastPort_ GUARDED_BY(workersMu_) = 0;
  std::string publicKeyText_ GUARDED_BY(workersMu_);
  std::thread closer_ GUARDED_BY(workersMu_);
};

}  // namespace ondavox::server
