#include "server/net/CTCPRunner.h"

#include <malloc.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "server/net/CTCPDialogThread.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {
namespace {

// Accept failures that say nothing about the listening socket: retry at once.
bool RetryAtOnce(int error) {
  return error == EINTR || error == ECONNABORTED || error == EPROTO || error == EPERM ||
         error == ENETDOWN || error == ENOPROTOOPT || error == EHOSTDOWN || error == ENONET ||
         error == EHOSTUNREACH || error == EOPNOTSUPP || error == ENETUNREACH;
}

// Resource shortages: pause, then accept again (stopping the server would not help).
bool RetryAfterPause(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// How often ended connections are pruned while any are open.
constexpr int kPruneIntervalMs = 1000;

void TraceAndDebug(const char* text) {
  TraceLine(text);
  DebugOut(text);
}

}  // namespace

CTCPRunner::CTCPRunner(ServerRunner& runner, uint16_t port, const ConnectionLimits& limits)
    : runner_(runner), port_(port), limits_(limits) {
  TraceLine("CTCPRunner::CTCPRunner() [ENTER]");
  TraceLine("CTCPRunner::CTCPRunner() [EXIT]");
}

CTCPRunner::~CTCPRunner() { Close(); }

void CTCPRunner::Resume() {
  listener_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  wake_ = Socket(::eventfd(0, EFD_CLOEXEC));
  thread_ = std::thread(&CTCPRunner::ThreadMain, this);
  // Clients may connect as soon as Start returns.
  setUpDone_.WaitFor(std::chrono::seconds(5));
}

void CTCPRunner::ThreadMain() {
  TraceLine("CTCPRunner::InitInstance() [ENTER]");
  TraceLine("CTCPRunner::InitInstance() [EXIT]");
  TraceLine("CTCPRunner::Run() [ENTER]");
  const bool listening = InitTCP();
  setUpDone_.Signal();
  if (listening) AcceptLoop();
  TraceLine("CTCPRunner::ExitInstance() [ENTER]");
  TraceLine("CTCPRunner::ExitInstance() [EXIT]");
}

bool CTCPRunner::InitTCP() {
  TraceLine("CTCPRunner::InitTCP() [ENTER]");
  TraceLine("CTCPRunner::InitTCP : TCP listen socket successfully created\n");
  // A stopped server binds its port again at once, even while old connections linger; a
  // second listener on the port is still refused.
  const int reuse = 1;
  ::setsockopt(listener_.Fd(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  const Ipv4Endpoint local = Ipv4Endpoint::Any(port_);
  if (::bind(listener_.Fd(), local.Get(), Ipv4Endpoint::Size()) != 0) {
    const int error = errno;
    TraceAndDebug("ERROR: CTCPRunner::InitTCP : bind() failed.\n");
    ReportUnavailable(error);
    return false;
  }
  TraceLine("CTCPRunner::InitTCP : TCP listen socket successfully binded\n");
  // A deep backlog, so that hundreds of clients connecting at once are not refused.
  if (::listen(listener_.Fd(), SOMAXCONN) != 0) {
    const int error = errno;
    TraceAndDebug("ERROR: CTCPRunner::InitTCP : listen() failed.\n");
    ReportUnavailable(error);
    return false;
  }
  return true;
}

void CTCPRunner::ReportUnavailable(int error) {
  // The server goes on without its port; the operator must hear of it, not just the trace.
  runner_.PostEvent(
      ServerEvent(LOG_FAILURE, {"TCP: port " + std::to_string(port_) + " could not be opened (" +
                                std::strerror(error) + "); clients cannot connect"}));
}

void CTCPRunner::AcceptLoop() {
  for (;;) {
    // Waits for a connection or for Close, whichever comes first, even when Close came before
    // the socket was listening.
    pollfd ready[2] = {{listener_.Fd(), POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
    const int count = ::poll(ready, 2, HasConnections() ? kPruneIntervalMs : -1);
    if (count < 0 && errno != EINTR) return;
    if (stopping_.load()) return;
    if (count == 0) {
      PruneEnded();
      continue;
    }
    if ((ready[0].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;
    const int fd = ::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      Adopt(Socket(fd));
      continue;
    }
    const int error = errno;
    if (stopping_.load()) return;
    if (error == EAGAIN || error == EWOULDBLOCK || RetryAtOnce(error)) continue;
    if (RetryAfterPause(error)) {
      DebugOut("CTCPRunner::InitTCP : accept() short of resources, pausing\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    TraceAndDebug("ERROR: CTCPRunner::InitTCP : Accept() failed.\n");
    runner_.CloseFromWorker();
    return;
  }
}

void CTCPRunner::TakeEndedLocked(std::vector<std::unique_ptr<CTCPDialogThread>>& ended) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->Ended()) {
      ended.push_back(std::move(*it));
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

bool CTCPRunner::HasConnections() const {
  MutexLock lock(mu_);
  return !connections_.empty();
}

void CTCPRunner::PruneEnded() {
  std::vector<std::unique_ptr<CTCPDialogThread>> ended;
  bool none = false;
  {
    MutexLock lock(mu_);
    TakeEndedLocked(ended);
    none = connections_.empty();
  }
  if (ended.empty()) return;
  ended.clear();
  // The sessions' buffers went back to the heap's free lists; give them to the system.
  if (none) ::malloc_trim(0);
}

void CTCPRunner::Adopt(Socket connection) {
  std::vector<std::unique_ptr<CTCPDialogThread>> ended;
  Outcome outcome = Outcome::kServed;
  int error = 0;
  {
    MutexLock lock(mu_);
    TakeEndedLocked(ended);
    std::size_t serving = 0;
    std::size_t waiting = 0;
    CTCPDialogThread* oldestWaiting = nullptr;
    for (const auto& dialog : connections_) {
      if (!dialog->Serving()) continue;
      ++serving;
      if (dialog->LoggedIn()) continue;
      ++waiting;
      if (oldestWaiting == nullptr) oldestWaiting = dialog.get();
    }
    if (serving >= limits_.maxConnections || waiting >= limits_.maxUnauthenticated) {
      outcome = oldestWaiting != nullptr ? Outcome::kOldestDropped : Outcome::kRefused;
      if (oldestWaiting != nullptr) oldestWaiting->Drop();
    }
    if (outcome != Outcome::kRefused) {
      auto dialog =
          std::make_unique<CTCPDialogThread>(runner_, std::move(connection), limits_.loginTimeout);
      error = dialog->Resume(limits_.threadCreate);
      if (error == 0) {
        connections_.push_back(std::move(dialog));
      } else {
        outcome = Outcome::kNoThread;  // the connection closes with |dialog|
      }
    }
  }
  // Their threads have left their loops; joining them here is short.
  ended.clear();
  Report(outcome, error);
}

void CTCPRunner::Report(Outcome outcome, int error) {
  const Outcome previous = std::exchange(previous_, outcome);
  if (outcome == previous || outcome == Outcome::kServed) return;
  switch (outcome) {
    case Outcome::kOldestDropped:
      runner_.PostEvent(ServerEvent(
          LOG_INFO,
          {"TCP: too many connections without a login (at most " +
           std::to_string(limits_.maxUnauthenticated) + " of " +
           std::to_string(limits_.maxConnections) + "); the oldest ones are closed to make room"}));
      break;
    case Outcome::kRefused:
      runner_.PostEvent(
          ServerEvent(LOG_FAILURE, {"TCP: " + std::to_string(limits_.maxConnections) +
                                    " clients are logged in; new connections are closed"}));
      break;
    case Outcome::kNoThread:
      TraceAndDebug("ERROR: CTCPRunner::Adopt : thread creation failed.\n");
      runner_.PostEvent(
          ServerEvent(LOG_FAILURE, {std::string("TCP: a connection could not get a thread (") +
                                    std::strerror(error) + "); it was closed"}));
      break;
    case Outcome::kServed:
      break;
  }
}

std::size_t CTCPRunner::LiveConnections() const {
  MutexLock lock(mu_);
  std::size_t live = 0;
  for (const auto& connection : connections_) live += connection->Ended() ? 0 : 1;
  return live;
}

void CTCPRunner::Close() {
  if (stopping_.exchange(true)) return;
  std::vector<std::unique_ptr<CTCPDialogThread>> connections;
  {
    MutexLock lock(mu_);
    connections.swap(connections_);
  }
  DebugOut("CTCPRunner::Close() [ENTER]\n");
  TraceLine("CTCPRunner::Close Enters\n" + std::to_string(connections.size()) + "\n");
  for (auto& connection : connections) {
    connection->Close();
    connection.reset();
  }
  const uint64_t one = 1;
  if (wake_.Valid() && ::write(wake_.Fd(), &one, sizeof one) < 0) listener_.Shutdown();
  if (thread_.joinable()) thread_.join();
  // A connection accepted while the list was being closed.
  {
    MutexLock lock(mu_);
    connections.swap(connections_);
  }
  connections.clear();
  listener_.Close();
  DebugOut("CTCPRunner::Close() [EXIT]\n");
}

}  // namespace ondavox::server
