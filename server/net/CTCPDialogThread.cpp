#include "server/net/CTCPDialogThread.h"

#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "common/LineReader.h"
#include "common/ReplyCodes.h"
#include "platform/Trace.h"
#include "server/net/MavoraProtocolServer.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {

CTCPDialogThread::CTCPDialogThread(ServerRunner& runner, Socket socket,
                                   std::chrono::seconds loginTimeout)
    : runner_(runner), fd_(socket.Fd()), loginTimeout_(loginTimeout), socket_(std::move(socket)) {
  TraceLine("CTCPDialogThread::CTCPDialogThread() [ENTER]");
  TraceLine("CTCPDialogThread::CTCPDialogThread() [EXIT]");
}

CTCPDialogThread::~CTCPDialogThread() { Close(); }

int CTCPDialogThread::Resume(SessionThread::CreateFn create) {
  return thread_.Start([this] { ThreadMain(); }, create);
}

void CTCPDialogThread::Drop() {
  dropped_ = true;
  MutexLock lock(mu_);
  if (socket_.Valid()) socket_.Shutdown();  // wakes the thread's read
}

void CTCPDialogThread::SetReadTimeout(std::chrono::seconds timeout) const {
  const timeval value{static_cast<time_t>(timeout.count()), 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

void CTCPDialogThread::ThreadMain() {
  TraceLine("CTCPDialogThread::InitInstance() [ENTER]");
  TraceLine("New Thread TCP Manager Launched ");
  TraceLine("CTCPDialogThread::InitInstance() [EXIT]");
  Run();
  CloseSocket();
  ended_ = true;
  TraceLine("CTCPDialogThread::ExitInstance() [ENTER]");
  TraceLine("CTCPDialogThread::ExitInstance() [EXIT]");
}

void CTCPDialogThread::Run() {
  TraceLine("CTCPDialogThread::Run() [ENTER]");
  MavoraProtocolServer& protocol = runner_.protocol();
  LineReader reader = LineReader::ForSocket(fd_);
  bool timedOut = false;
  std::string login;  // the login accepted on this connection
  SetReadTimeout(loginTimeout_);
  for (;;) {
    const std::optional<std::string> message = reader.ReadLine();
    if (stopping_.load()) return;  // closed by the server: nothing more is processed
    if (!message) {
      // The read ended in the receive timeout, which only a connection without a login has.
      timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
      break;
    }
    DebugOut("[RECEIVE : " + *message + "]\n");
    TraceLine("command received: " + *message);
    const std::string reply = protocol.invoke(*message, login);
    TraceLine("we send: " + reply);
    if (!login.empty() && !loggedIn_.exchange(true)) SetReadTimeout(std::chrono::seconds(0));
    protocol.sendMsg(fd_, reply);
    if (reply.starts_with(kLogoutAccepted)) {
      DebugOut("Client deconnection\n");
      return;
    }
  }
  if (timedOut) {
    TraceLine("CTCPDialogThread::Run : no login within " + std::to_string(loginTimeout_.count()) +
              " s, connection closed");
  }
  DebugOut("Client connection reset by peer\n");
  protocol.invoke("LOGOUT\t" + login, login);
}

void CTCPDialogThread::CloseSocket() {
  MutexLock lock(mu_);
  if (socket_.Valid()) {
    socket_.Shutdown();
    socket_.Close();
  }
}

void CTCPDialogThread::Close() {
  if (!thread_.Joinable()) return;
  const bool live = !ended_.load();
  if (live) {
    TraceLine("CTCPDialogThread::Close() [ENTER]");
    stopping_ = true;
    MutexLock lock(mu_);
    socket_.Shutdown();  // wakes the thread's read
  }
  thread_.Join();
  if (live) TraceLine("CTCPDialogThread::Close() [EXIT]");
}

}  // namespace ondavox::server
