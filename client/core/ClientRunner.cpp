#include "client/core/ClientRunner.h"

#include "client/core/DeliveryReceipt.h"
#include "common/WinsockStartup.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

// The longest the TCP session waits for the listener to join its group.
constexpr std::chrono::milliseconds kListenerPatience{2000};

}  // namespace

std::shared_ptr<FcastReceiverObject> ClientRunner::LoadFcastReceiver(
    const FcastMessageHook& message, const std::vector<std::string>& candidates) {
  auto object =
      std::make_shared<FcastObject<FcastReceiverObject>>(CreateFcastReceiver(message, candidates));
  if (!*object) return nullptr;
  // The receiver shares ownership of the object with the library reference that keeps it.
  return std::shared_ptr<FcastReceiverObject>(object, object->get());
}

ClientRunner::ClientRunner(Launcher& launcher, const ReceiverFactory& createReceiver)
    : protocol_(*this) {
  TraceLine("ClientRunner::ClientRunner() [ENTER]");
  WinsockStartup();
  std::shared_ptr<FcastReceiverObject> receiver = createReceiver();
  serverKey_ = std::make_unique<ServerKeyTrust>(receiver);
  fcastReceiver_ = std::make_unique<FcastReceiver>(
      std::move(receiver), settings_, launcher,
      [this](const std::string& path, const std::string& name) { SendReceipt(path, name); });
  TraceLine("ClientRunner::ClientRunner() [EXIT]");
}

ClientRunner::~ClientRunner() {
  TraceLine("ClientRunner::~ClientRunner() [ENTER]");
  CloseSession(nullptr);
  JoinClosedSessions();
  // Its event thread sends receipts through this object's lock and session: it ends while
  // they still exist.
  fcastReceiver_.reset();
  TraceLine("ClientRunner::~ClientRunner() [EXIT]");
}

void ClientRunner::JoinClosedSessions() {
  std::vector<std::unique_ptr<Session>> sessions;
  {
    MutexLock lock(mu_);
    closed_.Wait(mu_, [this]() REQUIRES(mu_) { return !closing_; });
    sessions.swap(closedSessions_);
  }
  // The thread that closed a session may still be finishing; the others have ended.
  for (auto& session : sessions) {
    session->listener->Join();
    session->tcp->Join();
  }
}

void ClientRunner::Connect(int tcpPort, int multicastPort, const std::string& serverAddress,
                           const std::string& groupAddress) {
  JoinClosedSessions();
  {
    MutexLock lock(mu_);
    if (connected_ || closing_) {
      DebugOut("ClientRunner::Connect: a session is open already\n");
      return;
    }
    tcpPort_ = tcpPort;
    multicastPort_ = multicastPort;
    serverAddress_ = serverAddress;
    groupAddress_ = groupAddress;
    connected_ = true;
    TraceLine("ClientRunner::Connect() [ENTER]");
    TraceLine("MULTICAST LAUNCH");
    auto session = std::make_unique<Session>();
    const Session* id = session.get();
    auto close = [this, id] { CloseSession(id); };
    ServerSource source(serverAddress_, Ipv4Endpoint::HostAddresses());
    if (const auto& receiver = fcastReceiver_->object()) {
      receiver->SetSource(source.receiverSource());
    }
    session->listener = std::make_unique<CMULTICASTDialog>(multicastPort_, groupAddress_,
                                                           std::move(source), *this, close);
    // LOGIN waits until the listener can hear the playlist announced in answer.
    session->tcp = std::make_unique<CTCPDialog>(
        tcpPort_, serverAddress_, *this, close,
        [listener = session->listener.get()] { listener->WaitSettled(kListenerPatience); });
    // Both threads start under the lock, so a thread that fails at once closes a complete
    // session.
    session->listener->Start();
    TraceLine("TCP LAUNCH");
    session->tcp->Start();
    open_ = std::move(session);
    TraceLine("ClientRunner::Connect() [EXIT]");
  }
  NotifyConnection();
}

void ClientRunner::SendTCP(MavoraProtocol::Fields command) {
  TraceLine("ClientRunner::SendTCP() [ENTER]");
  {
    MutexLock lock(mu_);
    if (open_ != nullptr) {
      open_->tcp->Post(std::move(command));
    } else {
      DebugOut("ClientRunner::SendTCP: no session, command dropped\n");
    }
  }
  TraceLine("ClientRunner::SendTCP() [EXIT]");
}

void ClientRunner::SendReceipt(const std::string& path, const std::string& name) {
  // Read before taking the lock: the window thread's SendTCP waits on it.
  std::optional<MavoraProtocol::Fields> receipt = DeliveryReceipt::For(path, name);
  if (!receipt) return;
  MutexLock lock(mu_);
  if (open_ != nullptr) open_->tcp->PostReceipt(std::move(*receipt));
}

void ClientRunner::Close() { CloseSession(nullptr); }

void ClientRunner::CloseSession(const Session* from) {
  std::unique_ptr<Session> session;
  {
    MutexLock lock(mu_);
    if (!connected_ || open_ == nullptr || (from != nullptr && open_.get() != from)) return;
    connected_ = false;
    closing_ = true;
    session = std::move(open_);
  }
  NotifyConnection();
  TraceLine("ClientRunner::Close() [ENTER]");
  TraceLine("Close Multicast Thread");
  session->listener->Close();
  TraceLine("Multicast Thread removed");
  TraceLine("Close TCP Thread");
  session->tcp->Close();
  TraceLine("TCP Thread removed\n");
  TraceLine("ClientRunner::Close() [EXIT]");
  {
    MutexLock lock(mu_);
    closedSessions_.push_back(std::move(session));
    closing_ = false;
  }
  closed_.NotifyAll();
}

void ClientRunner::PublishView(InfosBox* infos, PlaylistList* playlist,
                               ConnectionListener* connection) {
  MutexLock lock(viewMu_);
  infos_ = infos;
  playlist_ = playlist;
  connection_ = connection;
}

void ClientRunner::NotifyConnection() {
  MutexLock lock(viewMu_);
  if (connection_ != nullptr) connection_->ConnectionChanged();
}

void ClientRunner::ShowInfos(const std::string& text) {
  MutexLock lock(viewMu_);
  if (infos_ != nullptr) infos_->SetText(text);
}

void ClientRunner::ShowPlaylist(const std::vector<PlaylistRow>& rows) {
  MutexLock lock(viewMu_);
  if (playlist_ != nullptr) playlist_->ReplaceRows(rows);
}

std::string ClientRunner::DownloadDirectory() const { return settings_.DownloadDirectory(); }

void ClientRunner::StartFcast(const std::string& group, int port, const std::string& folder) {
  if (serverKey_->FilesRefused()) {
    DebugOut("ClientRunner::StartFcast: serverKey is no key, no reception\n");
    return;
  }
  fcastReceiver_->Start(group, port, folder);
}

}  // namespace ondavox::client
