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

void CTCPDialog::PostReceipt(MavoraProtocol::Fields receipt) {
  {
    MutexLock lock(mu_);
    if (stopped_) return;
    receipts_.push_back(std::move(receipt));
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
  const bool connected = fd >= 0 && wake_.Valid() && ConnectSocket(fd);
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
  LineReader reader = LineReader::ForSocket(fd);
  for (;;) {
    std::optional<Outgoing> next = TakeNext();
    if (Stopped()) return 0;
    if (!next) {
      if (AwaitWork(fd)) continue;
      if (Stopped()) return 0;
      TraceLine("CTCPDialog::Run : the server closed the connection");
      break;
    }
    if (!Exchange(std::move(*next), fd, reader)) {
      if (Stopped()) return 0;
      break;
    }
  }
  closeSession_();
  return 0;
}

std::optional<CTCPDialog::Outgoing> CTCPDialog::TakeNext() {
  if (keyDue_) {
    keyDue_ = false;
    keyAsked_ = true;
    return Outgoing{{"KEY"}, Outgoing::Kind::kServerKey};
  }
  MutexLock lock(mu_);
  if (pending_) {
    Outgoing next{std::move(*pending_), Outgoing::Kind::kCommand};
    pending_.reset();
    return next;
  }
  if (receipts_.empty()) return std::nullopt;
  Outgoing next{std::move(receipts_.front()), Outgoing::Kind::kReceipt};
  receipts_.pop_front();
  return next;
}

bool CTCPDialog::AwaitWork(int fd) {
  pollfd waits[2] = {{wake_.Fd(), POLLIN, 0}, {fd, POLLIN, 0}};
  const int ready = ::poll(waits, 2, -1);
  if (ready < 0) return errno == EINTR;
  if (waits[0].revents != 0) wake_.Take();
  if (waits[1].revents == 0) return true;
  char unsolicited[512];
  const ssize_t n = ::recv(fd, unsolicited, sizeof unsolicited, MSG_DONTWAIT);
  if (n > 0) {
    DebugOut("CTCPDialog: " + std::to_string(n) +
             " bytes from the server between replies dropped\n");
    return true;
  }
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

bool CTCPDialog::Exchange(Outgoing outgoing, int fd, LineReader& reader) {
  const bool receipt = outgoing.kind == Outgoing::Kind::kReceipt;
  if (receipt && (!loggedIn_ || !receiptsKnown_)) {
    DebugOut("CTCPDialog: receipt not sent (no login, or the server does not know RECEIVED)\n");
    return true;
  }
  const std::string word = outgoing.fields.empty() ? std::string() : outgoing.fields.front();
  MavoraProtocolClient& protocol = runner_.protocol();
  const std::string message =
      protocol.joinParams(ClientCommands::WithAddress(std::move(outgoing.fields), localAddress_));
  AppendLog(WithoutLineFeeds(message), "SEND");
  protocol.sendMsg(fd, message);
  const std::optional<std::string> reply = protocol.receiveMsg(reader);
  if (Stopped() || !reply) return false;
  // One line answers one command: what came with it is no reply to the next.
  if (const std::size_t extra = reader.DiscardBuffered(); extra > 0) {
    DebugOut("CTCPDialog: " + std::to_string(extra) + " bytes after the reply dropped\n");
  }
  TraceLine("result received: " + *reply);
  if (receipt && *reply == kUnknownCommand) {
    receiptsKnown_ = false;
    return true;
  }
  if (outgoing.kind == Outgoing::Kind::kServerKey) {
    runner_.serverKey().TakeKeyReply(*reply);
    return true;
  }
  if ((word == "LOGIN" && *reply == kLoginAccepted) ||
      (word == "REGISTER" && *reply == kRegistered)) {
    loggedIn_ = true;
    keyDue_ = !keyAsked_;
  }
  return TakeReply(*reply);
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
    receipts_.clear();
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
