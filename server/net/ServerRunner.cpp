#include "server/net/ServerRunner.h"

#include <sys/resource.h>

#include <algorithm>

#include "common/WinsockStartup.h"
#include "platform/Trace.h"
#include "server/net/CMULTICASTRunner.h"
#include "server/net/CTCPRunner.h"
#include "server/net/ServerDataAccess.h"

namespace ondavox::server {
namespace {

// The largest playlist announcement, line feed included, is one byte below this.
constexpr std::size_t kPlaylistDatagramLimit = 1000;

// Raises the soft descriptor limit to the hard one; returns the soft limit then in force.
std::size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    const rlim_t raised = limit.rlim_max;
    limit.rlim_cur = raised;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  constexpr rlim_t kLargest = 1 << 20;
  return static_cast<std::size_t>(std::min(limit.rlim_cur, kLargest));
}

ConnectionLimits ResolveLimits(const ServerRunner::Settings& settings) {
  const std::size_t descriptors = RaiseDescriptorLimit();
  const std::size_t reserve = ServerRunner::kDescriptorReserve;
  ConnectionLimits limits;
  limits.maxConnections =
      settings.maxConnections > 0
          ? static_cast<std::size_t>(settings.maxConnections)
          : (descriptors > 2 * reserve ? descriptors - reserve : descriptors / 2);
  limits.maxConnections = std::max<std::size_t>(limits.maxConnections, 1);
  limits.maxUnauthenticated =
      settings.maxUnauthenticated > 0
          ? std::min(static_cast<std::size_t>(settings.maxUnauthenticated), limits.maxConnections)
          : std::max<std::size_t>(limits.maxConnections / 4, 1);
  limits.loginTimeout =
      std::chrono::seconds(settings.loginTimeoutSeconds > 0 ? settings.loginTimeoutSeconds
                                                            : ServerRunner::kDefaultLoginTimeout);
  limits.threadCreate = settings.threadCreate;
  return limits;
}

}  // namespace

ServerRunner::ServerRunner(DocumentDatabase& documents, UserDatabase& users,
                           FcastSenderFactory fcastSenderFactory)
    : documents_(documents),
      users_(users),
      protocol_(*this),
      fcastSenderFactory_(fcastSenderFactory
                              ? std::move(fcastSenderFactory)
                              : FcastSenderThread::ComponentFactory(
                                    [](const std::string& text) { TraceLine(text); })),
      userSaver_(users, dataLock_) {
  TraceLine("ServerRunner::ServerRunner() [ENTER]");
  WinsockStartup();
  TraceLine("ServerRunner::ServerRunner() [EXIT]");
}

ServerRunner::~ServerRunner() {
  Close();
  std::thread closer;
  {
    MutexLock lock(workersMu_);
    closer = std::move(closer_);
  }
  if (closer.joinable()) closer.join();
}

void ServerRunner::PostEvent(const ServerEvent& event) {
  if (ServerDataAccess* access = ServerDataAccess::Current(*this)) {
    access->Defer(event);
    return;
  }
  for (ServerEventListener* listener : listeners_) listener->OnServerEvent(event);
}

void ServerRunner::SendMULTICAST(MavoraProtocol::Fields fields) {
  TraceLine("ServerRunner::SendMULTICAST() [ENTER]");
  {
    MutexLock lock(workersMu_);
    if (announcer_) {
      announcer_->Hand(std::move(fields));
      multicastWakeUp_.Signal();
    }
  }
  TraceLine("ServerRunner::SendMULTICAST() [Exit]");
}

void ServerRunner::SendPlaylist() {
  TraceLine("ServerRunner::SendPlaylist() [ENTER]");
  MavoraProtocol::Fields fields{"PLAYLIST"};
  std::size_t total = fields.front().size() + 1;
  for (int i = 0; i < playlist_.GetCount(); ++i) {
    const std::optional<CDocInfo> entry = playlist_.GetAt(i);
    if (!entry) break;  // removed meanwhile
    total += entry->fileName().size() + entry->owner().size() + 2;
    if (total >= kPlaylistDatagramLimit) break;
    fields.push_back(entry->fileName());
    fields.push_back(entry->owner());
  }
  SendMULTICAST(std::move(fields));
  TraceLine("ServerRunner::SendPlaylist() [Exit]");
}

void ServerRunner::SendFCAST() {
  MavoraProtocol::Fields fields;
  {
    MutexLock lock(workersMu_);
    fields = {"FCAST", fcastIP_, std::to_string(fcastPort_)};
  }
  SendMULTICAST(std::move(fields));
}

void ServerRunner::Start(const Settings& settings) {
  MutexLock lifecycle(lifecycleMu_);
  if (running_.load()) return;
  std::thread closer;
  {
    MutexLock lock(workersMu_);
    closer = std::move(closer_);
    fcastIP_ = settings.fcastIP;
    fcastPort_ = settings.fcastPort;
    publicKeyText_ = settings.publicKeyText;
  }
  if (closer.joinable()) closer.join();  // the previous run's stop has finished
  WinsockStartup();
  TraceLine("ServerRunner::Start() [ENTER]");

  DebugOut("MULTICAST LAUNCH\n");
  auto announcer =
      std::make_unique<CMULTICASTRunner>(*this, settings.multicastBindPort, settings.multicastPort,
                                         settings.multicastIP, settings.multicastInterface);
  announcer->Resume();

  DebugOut("TCP LAUNCH\n");
  auto listener = std::make_unique<CTCPRunner>(*this, settings.tcpPort, ResolveLimits(settings));
  listener->Resume();

  DebugOut("Fcast LAUNCH\n");
  auto fcastSender = std::make_unique<FcastSenderThread>(
      *this,
      FcastSenderThread::Settings{settings.fcastIP, settings.fcastPort, settings.fcastRound,
                                  settings.fcastRate, settings.fcastInterface,
                                  settings.signingSeed},
      fcastSenderFactory_());
  fcastSender->Resume();
  {
    MutexLock lock(workersMu_);
    announcer_ = std::move(announcer);
    listener_ = std::move(listener);
    fcastSender_ = std::move(fcastSender);
  }
  running_ = true;
  DebugOut("ServerRunner::Start() [EXIT]\n");
}

void ServerRunner::Close() {
  MutexLock lifecycle(lifecycleMu_);
  if (!running_.exchange(false)) return;
  TraceLine("ServerRunner::Close() [ENTER]");
  TraceLine("kill the Multicast Thread !");
  std::unique_ptr<CMULTICASTRunner> announcer;
  std::unique_ptr<CTCPRunner> listener;
  std::unique_ptr<FcastSenderThread> fcastSender;
  {
    MutexLock lock(workersMu_);
    announcer = std::move(announcer_);
  }
  announcer->Close();
  announcer.reset();
  DebugOut("Multicast Thread removed\n");
  TraceLine("Multicast Thread removed\n");

  TraceLine("kill the TCP Thread !");
  {
    MutexLock lock(workersMu_);
    listener = std::move(listener_);
  }
  listener->Close();
  listener.reset();
  TraceLine("ServerRunner::Close TCP Thread removed\n");
  DebugOut("TCP Thread removed !\n");
  TraceLine("TCP Thread removed !\n");

  {
    MutexLock lock(workersMu_);
    fcastSender = std::move(fcastSender_);
  }
  fcastSender->Close();
  fcastSender.reset();
  DebugOut("Fcast Thread removed\n");
  TraceLine("ServerRunner::Close() [EXIT]");
}

void ServerRunner::CloseFromWorker() {
  MutexLock lock(workersMu_);
  if (closer_.joinable()) return;  // a stop is already on its way
  closer_ = std::thread([this] { Close(); });
}

void ServerRunner::WakeFcastSender() {
  MutexLock lock(workersMu_);
  if (fcastSender_) fcastSender_->Wake();
}

void ServerRunner::DelayNextTransfer(std::chrono::milliseconds delay) {
  MutexLock lock(workersMu_);
  if (fcastSender_) fcastSender_->DelayNextTransfer(delay);
}

std::string ServerRunner::PublicKeyText() const {
  MutexLock lock(workersMu_);
  return publicKeyText_;
}

std::optional<FcastSenderThread::Progress> ServerRunner::TransferProgress() const {
  MutexLock lock(workersMu_);
  return fcastSender_ ? fcastSender_->progress() : std::nullopt;
}

std::size_t ServerRunner::LiveConnections() const {
  MutexLock lock(workersMu_);
  return listener_ ? listener_->LiveConnections() : 0;
}

}  // namespace ondavox::server
