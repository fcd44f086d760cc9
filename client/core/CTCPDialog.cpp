#include "client/core/CTCPDialog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "client/core/ClientCommands.h"
#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "common/LenientInteger.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t p = text.find(from); p != std::string::npos;
       p = text.find(from, p + to.size())) {
    text.replace(p, from.size(), to);
  }
  return text;
}

std::string WithoutLineFeeds(std::string text) {
  std::erase(text, '\n');
  return text;
}

}  // namespace

CTCPDialog::CTCPDialog(int port, std::string serverAddress, ClientRunner& runner,
                       std::function<void()> closeSession, std::function<void()> awaitListener)
    : port_(port),
      serverAddress_(std::move(serverAddress)),
      runner_(runner),
      closeSession_(std::move(closeSession)),
      awaitListener_(std::move(awaitListener)) {
  TraceLine("CTCPDialog::CTCPDialog() [ENTER]");
  TraceLine("CTCPDialog::CTCPDialog() [EXIT]");
}

CTCPDialog::~CTCPDialog() {
  TraceLine("CTCPDialog::~CTCPDialog() [ENTER]");
  TraceLine("CTCPDialog::~CTCPDialog() [EXIT]");
}

void CTCPDialog::Post(MavoraProtocol::Fields command) {
  {
    MutexLock lock(mu_);
    if (stopped_) {
      DebugOut("CTCPDialog: the session is closed, command dropped\n");
      return;
    }
    pending_ = std::move(command);
  }
  wake_.Signal();
}

bool CTCPDialog::Stopped() {
  MutexLock lock(mu_);
  return stopped_;
}

bool CTCPDialog::InitInstance() {
  TraceLine("CTCPDialog::InitInstance() [ENTER]");
  return InitTCP();
}

int CTCPDialog::ExitInstance() {
  TraceLine("CTCPDialog::ExitInstance() [ENTER]");
  TraceLine("CTCPDialog::ExitInstance() [EXIT]");
  return 0;
}

bool CTCPDialog::ConnectSocket(int fd) const {
  if (port_ <= 0 || port_ > 65535) return false;
  // No name look-up.
  const std::optional<Ipv4Endpoint> server =
      Ipv4Endpoint::FromLegacyText(serverAddress_, static_cast<uint16_t>(port_));
  if (!server) return false;

  // Connecting without blocking lets Close end the attempt: shutting the socket down wakes
  // the poll below.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  if (::connect(fd, server->Get(), Ipv4Endpoint::Size()) < 0) {
    if (errno != EINPROGRESS) return false;
    pollfd waiting{fd, POLLOUT, 0};
    int ready = 0;
    do {
      ready = ::poll(&waiting, 1, -1);
    } while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) {
      return false;
    }
  }
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool CTCPDialog::InitTCP() {
  TraceLine("CTCPDialog::InitTCP() [ENTER]");
  int fd = -1;
  {
    MutexLock lock(mu_);
    if (stopped_) return false;
    socket_ = Socket::Tcp();
    fd = socket_.Fd();
  }
  const bool connected = fd >= 0 && ConnectSocket(fd);
  // Closed from the listener's side meanwhile: that side reports and closes.
  if (Stopped()) return false;
  if (!connected) {
    TraceLine("Error: connect() failed.\n");
    AppendLog("problem TCP", "ERROR");
    closeSession_();
    return false;
  }
  if (const std::optional<Ipv4Endpoint> local = Ipv4Endpoint::LocalOf(fd)) {
    localAddress_ = local->AddressText();
  }
  awaitListener_();
  TraceLine("CTCPDialog::InitTCP() [EXIT]");
  AppendLog("You are connected", "INFO");
  return true;
}

int CTCPDialog::Run() {
  TraceLine("CTCPDialog::Run() [ENTER]");
  int fd = -1;
  {
    MutexLock lock(mu_);
    fd = socket_.Fd();
  }
  MavoraProtocolClient& protocol = runner_.protocol();
  LineReader reader = LineReader::ForSocket(fd);
  for (;;) {
    wake_.Wait();
    MavoraProtocol::Fields command;
    {
      MutexLock lock(mu_);
      if (stopped_) return 0;
      if (!pending_) continue;
      command = std::move(*pending_);
      pending_.reset();
    }
    const std::string message =
        protocol.joinParams(ClientCommands::WithAddress(std::move(command), localAddress_));
    AppendLog(WithoutLineFeeds(message), "SEND");
    protocol.sendMsg(fd, message);
    const std::optional<std::string> reply = protocol.receiveMsg(reader);
    if (Stopped()) return 0;
    if (!reply) break;
    TraceLine("result received: " + *reply);
    if (!TakeReply(*reply)) break;
  }
  closeSession_();
  return 0;
}

bool CTCPDialog::TakeReply(const std::string& reply) {
  const std::string text = ReplaceAll(reply, "%#", "\r\n");
  if (text == kLoginRefused || text == kRegisterRefused || text == kLogoutAccepted) return false;
  if (LenientInteger(text) != 0) {
    AppendLog(text, "TCP");
  } else {
    runner_.ShowInfos(text);
  }
  return true;
}

void CTCPDialog::Close() {
  TraceLine("CTCPDialog::Close() [ENTER]");
  {
    MutexLock lock(mu_);
    stopped_ = true;
    pending_.reset();
    socket_.Shutdown();
  }
  wake_.Signal();
  if (!OnItsThread()) Join();
  {
    MutexLock lock(mu_);
    socket_.Close();
  }
  TraceLine("CTCPDialog::Close() [EXIT]");
  AppendLog("You've been disconnected", "TCP");
}

}  // namespace ondavox::client
