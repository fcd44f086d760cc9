#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/core/CMULTICASTDialog.h"
#include "client/core/CTCPDialog.h"
#include "client/core/ConnectionListener.h"
#include "client/core/FcastReceiver.h"
#include "client/core/InfosBox.h"
#include "client/core/MavoraProtocolClient.h"
#include "client/core/PlaylistList.h"
#include "client/core/ReceptionSettings.h"
#include "client/core/ServerKeyTrust.h"
#include "common/FcastComponent.h"
#include "platform/Launcher.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The client's network core, one per process: owns the protocol object, the Fcast receiver
// and the settings the network threads read, and runs the sessions. A session is opened by
// Connect and runs two threads, the multicast listener (CMULTICASTDialog) and the TCP session
// thread (CTCPDialog); the window thread posts commands with SendTCP, and each file the
// receiver stores is acknowledged to the server with a delivery receipt; once logged in, the
// session asks the server for its key, which the key trust pins or checks, and only the server's
// address (ServerSource) is heard, by the listener and by the receiver; the session ends through
// Close, once, whichever of its threads fails first. Each session has its own wake-up and
// command slot, so nothing posted to or left over from a closed session reaches the next one.
// A closed session's threads are joined by the next Connect or by the destructor, which also
// closes a session still open.
//
// Threads: Connect, SendTCP, PublishView, settings() updates and destruction on the window
// thread; Close on the session threads; SendReceipt on the receiver's event thread;
// connected() and the view calls from any thread.
class ClientRunner final : public MavoraProtocolClient::Host {
 public:
  // Makes the Fcast component's receiver object; null when it cannot be made.
  using ReceiverFactory = std::function<std::shared_ptr<FcastReceiverObject>()>;

  // The component's receiver object, loaded from the first of |candidates| that loads and made
  // as both programs do; creation failures go to |message|.
  static std::shared_ptr<FcastReceiverObject> LoadFcastReceiver(
      const FcastMessageHook& message,
      const std::vector<std::string>& candidates = FcastLibraryCandidates());

  // |launcher| opens the received files and must outlive the runner.
  ClientRunner(Launcher& launcher, const ReceiverFactory& createReceiver);
  ~ClientRunner() override;
  ClientRunner(const ClientRunner&) = delete;
  ClientRunner& operator=(const ClientRunner&) = delete;

  // Opens a session and returns at once; connected() is true from here until the session
  // closes. Does nothing while a session is open.
  void Connect(int tcpPort, int multicastPort, const std::string& serverAddress,
               const std::string& groupAddress) EXCLUDES(mu_);
  // Hands |command| to the open session, replacing one it has not taken yet. Without an open
  // session the command is dropped.
  void SendTCP(MavoraProtocol::Fields command) EXCLUDES(mu_);
  // Hands the open session the delivery receipt of the file the receiver stored at |path| as
  // |name|; nothing without an open session. The Fcast receiver's event thread.
  void SendReceipt(const std::string& path, const std::string& name) EXCLUDES(mu_);
  // Ends the open session; does nothing when none is open.
  void Close() EXCLUDES(mu_);
  bool connected() const { return connected_.load(); }

  // The Infos box and the playlist list the sessions write to, and the listener told when a
  // session opens or closes; null until the view exists. Each must stay alive until it is
  // replaced.
  void PublishView(InfosBox* infos, PlaylistList* playlist,
                   ConnectionListener* connection = nullptr) EXCLUDES(viewMu_);
  // Replaces the Infos box's text (TCP session thread).
  void ShowInfos(const std::string& text) EXCLUDES(viewMu_);

  MavoraProtocolClient& protocol() { return protocol_; }
  FcastReceiver& fcastReceiver() { return *fcastReceiver_; }
  ReceptionSettings& settings() { return settings_; }
  ServerKeyTrust& serverKey() { return *serverKey_; }

  // MavoraProtocolClient::Host, on the listener thread.
  void ShowPlaylist(const std::vector<PlaylistRow>& rows) override EXCLUDES(viewMu_);
  std::string DownloadDirectory() const override;
  void StartFcast(const std::string& group, int port, const std::string& folder) override;

 private:
  struct Session {
    std::unique_ptr<CMULTICASTDialog> listener;  // started first
    std::unique_ptr<CTCPDialog> tcp;
  };

  // Closes |from| when it is the open session (any open session when null).
  void CloseSession(const Session* from) EXCLUDES(mu_);
  // Tells the connection listener that connected() changed.
  void NotifyConnection() EXCLUDES(viewMu_);
  // Waits for a close in progress, then joins and destroys the closed sessions.
  void JoinClosedSessions() EXCLUDES(mu_);

  ReceptionSettings settings_;
  MavoraProtocolClient protocol_;
  // Made in the constructor once networking is started; outlives the sessions' threads, and
  // is destroyed first in the destructor.
  std::unique_ptr<FcastReceiver> fcastReceiver_;
  std::unique_ptr<ServerKeyTrust> serverKey_;  // made with the receiver

  Mutex mu_;
  CondVar closed_;  // a close in progress has finished
  int tcpPort_ GUARDED_BY(mu_) = 0;
  int multicastPort_ GUARDED_BY(mu_) = 0;
  std::string serverAddress_ GUARDED_BY(mu_);
  std::string groupAddress_ GUARDED_BY(mu_);
  std::atomic<bool> connected_{false};  // written under mu_
  bool closing_ GUARDED_BY(mu_) = false;
  std::unique_ptr<Session> open_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Session>> closedSessions_ GUARDED_BY(mu_);

  Mutex viewMu_;
  InfosBox* infos_ GUARDED_BY(viewMu_) = nullptr;
  PlaylistList* playlist_ GUARDED_BY(viewMu_) = nullptr;
  ConnectionListener* connection_ GUARDED_BY(viewMu_) = nullptr;
};

}  // namespace ondavox::client
