#include "server/net/CTCPDialogThread.h"

#include <string>

#include "common/LineReader.h"
#include "common/ReplyCodes.h"
#include "platform/Trace.h"
#include "server/net/MavoraProtocolServer.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {

CTCPDialogThread::CTCPDialogThread(ServerRunner& runner, Socket socket)
    : runner_(runner), fd_(socket.Fd()), socket_(std::move(socket)) {
  TraceLine("CTCPDialogThread::CTCPDialogThread() [ENTER]");
  TraceLine("CTCPDialogThread::CTCPDialogThread() [EXIT]");
}

CTCPDialogThread::~CTCPDialogThread() { Close(); }

void CTCPDialogThread::Resume() { thread_ = std::thread(&CTCPDialogThread::ThreadMain, this); }

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
  std::string login;  // the login accepted on this connection
  for (;;) {
    const std::optional<std::string> message = reader.ReadLine();
    if (stopping_.load()) return;  // closed by the server: nothing more is processed
    if (!message) break;
    DebugOut("[RECEIVE : " + *message + "]\n");
    TraceLine("command received: " + *message);
    const std::string reply = protocol.invoke(*message, login);
    TraceLine("we send: " + reply);
    protocol.sendMsg(fd_, reply);
    if (reply.starts_with(kLogoutAccepted)) {
      DebugOut("Client deconnection\n");
      return;
    }
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
  if (!thread_.joinable()) return;
  const bool live = !ended_.load();
  if (live) {
    TraceLine("CTCPDialogThread::Close() [ENTER]");
    stopping_ = true;
    MutexLock lock(mu_);
    socket_.Shutdown();  // wakes the thread's read
  }
  thread_.join();
  if (live) TraceLine("CTCPDialogThread::Close() [EXIT]");
}

}  // namespace ondavox::server
