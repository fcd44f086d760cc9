#include "server/net/CTCPRunner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

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

void TraceAndDebug(const char* text) {
  TraceLine(text);
  DebugOut(text);
}

}  // namespace

CTCPRunner::CTCPRunner(ServerRunner& runner, uint16_t port) : runner_(runner), port_(port) {
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
  runner_.PostEvent(ServerEvent(
      LOG_FAILURE, {"TCP: port " + std::to_string(port_) + " could not be opened (" +
                    std::strerror(error) + "); clients cannot connect"}));
}

void CTCPRunner::AcceptLoop() {
  for (;;) {
    // Waits for a connection or for Close, whichever comes first, even when Close came before
    // the socket was listening.
    pollfd ready[2] = {{listener_.Fd(), POLLIN, 0}, {wake_.Fd(), POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0 && errno != EINTR) return;
    if (stopping_.load()) return;
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

void CTCPRunner::Adopt(Socket connection) {
  auto dialog = std::make_unique<CTCPDialogThread>(runner_, std::move(connection));
  std::vector<std::unique_ptr<CTCPDialogThread>> ended;
  {
    MutexLock lock(mu_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->Ended()) {
        ended.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    dialog->Resume();
    connections_.push_back(std::move(dialog));
  }
  // Their threads have left their loops; joining them here is short.
  ended.clear();
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
