#include "client/core/CMULTICASTDialog.h"

#include <sys/socket.h>

#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"

namespace ondavox::client {

CMULTICASTDialog::CMULTICASTDialog(int port, std::string groupAddress, ServerSource source,
                                   ClientRunner& runner, std::function<void()> closeSession)
    : port_(port),
      groupAddress_(std::move(groupAddress)),
      source_(std::move(source)),
      runner_(runner),
      closeSession_(std::move(closeSession)) {
  TraceLine("CMULTICASTDialog::CMULTICASTDialog() [ENTER]");
  TraceLine("CMULTICASTDialog::CMULTICASTDialog() [EXIT]");
}

CMULTICASTDialog::~CMULTICASTDialog() {
  TraceLine("CMULTICASTDialog::~CMULTICASTDialog() [ENTER]");
  TraceLine("CMULTICASTDialog::~CMULTICASTDialog() [EXIT]");
}

bool CMULTICASTDialog::Stopped() {
  MutexLock lock(mu_);
  return stopped_;
}

bool CMULTICASTDialog::InitInstance() {
  TraceLine("CMULTICASTDialog::InitInstance() [ENTER]");
  const bool joined = InitMULTICAST();
  settled_.Signal();
  return joined;
}

int CMULTICASTDialog::ExitInstance() {
  TraceLine("CMULTICASTDialog::ExitInstance() [ENTER]");
  return 0;
}

bool CMULTICASTDialog::InitMULTICAST() {
  TraceLine("CMULTICASTDialog::InitMULTICAST() [ENTER]");
  bool bound = false;
  {
    MutexLock lock(mu_);
    if (stopped_) return false;
    socket_ = Socket::Udp();
    if (socket_.Valid() && port_ >= 0 && port_ <= 65535) {
      const Ipv4Endpoint local = Ipv4Endpoint::Any(static_cast<uint16_t>(port_));
      bound = ::bind(socket_.Fd(), local.Get(), Ipv4Endpoint::Size()) == 0;
    }
  }
  if (!bound) {
    AppendLog("problem MULTICAST bind", "ERROR");
    TraceLine("Error: bind() failed.\n");
    closeSession_();
    return false;
  }

  {
    MutexLock lock(mu_);
    if (stopped_) return false;
    // A text that is not an address joins nothing, as the broadcast address is no group.
    const std::optional<Ipv4Endpoint> group = Ipv4Endpoint::FromLegacyText(groupAddress_, 0);
    membership_.imr_multiaddr.s_addr = group ? group->Address() : htonl(INADDR_NONE);
    membership_.imr_interface.s_addr = htonl(INADDR_ANY);
    joined_ = ::setsockopt(socket_.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership_,
                           sizeof membership_) == 0;
    if (joined_) return true;
  }
  TraceLine("Error: setsockopt() failed.\n");
  AppendLog("problem MULTICAST setsockopt", "ERROR");
  closeSession_();
  return false;
}

int CMULTICASTDialog::Run() {
  TraceLine("CMULTICASTDialog::Run() [ENTER]");
  int fd = -1;
  {
    MutexLock lock(mu_);
    fd = socket_.Fd();
  }
  MavoraProtocolClient& protocol = runner_.protocol();
  for (;;) {
    TraceLine("Multicast waiting");
    Ipv4Endpoint sender;
    std::optional<std::string> message = protocol.ReceiveMsgMULTICAST(fd, &sender);
    if (Stopped()) return 0;
    if (message && !source_.Admit(sender.Address())) continue;
    if (!message || message->empty()) {
      AppendLog("", "UDP");
      continue;
    }
    const std::string code = protocol.invoke(*message);
    if (code == MavoraProtocolClient::kLogoutCode) {
      TraceLine("goodbye\n");
      closeSession_();
      return 0;
    }
    if (code == MavoraProtocolClient::kPlaylistCode) {
      AppendLog("Playlist changed", "UDP");
      std::erase(*message, '\n');
      AppendLog(*message, "UDP");
    }
  }
}

void CMULTICASTDialog::Close() {
  TraceLine("CMULTICASTDialog::Close() [ENTER]");
  settled_.Signal();
  bool leaveFailed = false;
  {
    MutexLock lock(mu_);
    stopped_ = true;
    if (joined_) {
      leaveFailed = ::setsockopt(socket_.Fd(), IPPROTO_IP, IP_DROP_MEMBERSHIP, &membership_,
                                 sizeof membership_) == -1;
      joined_ = false;
    }
    // Both directions: ending the reading side is what wakes the blocked receive.
    socket_.Shutdown();
  }
  if (leaveFailed) AppendLog("probleme de dejoinage", "ERROR");
  if (!OnItsThread()) Join();
  {
    MutexLock lock(mu_);
    socket_.Close();
  }
  TraceLine("CMULTICASTDialog::Close() [EXIT]");
  AppendLog("You've been disconnected", "UDP");
}

}  // namespace ondavox::client
