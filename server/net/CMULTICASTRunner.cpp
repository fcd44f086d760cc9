#include "server/net/CMULTICASTRunner.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {

CMULTICASTRunner::CMULTICASTRunner(ServerRunner& runner, uint16_t bindPort,
                                   uint16_t destinationPort, std::string groupAddress,
                                   std::string interfaceAddress)
    : runner_(runner),
      bindPort_(bindPort),
      destinationPort_(destinationPort),
      groupAddress_(std::move(groupAddress)),
      interfaceAddress_(std::move(interfaceAddress)) {
  TraceLine("CMULTICASTRunner::CMULTICASTRunner() [ENTER]");
  TraceLine("CMULTICASTRunner::CMULTICASTRunner() [EXIT]");
}

CMULTICASTRunner::~CMULTICASTRunner() { Close(); }

void CMULTICASTRunner::Resume() {
  thread_ = std::thread(&CMULTICASTRunner::ThreadMain, this);
  setUpDone_.WaitFor(std::chrono::seconds(5));
}

void CMULTICASTRunner::ThreadMain() {
  TraceLine("CMULTICASTRunner::InitInstance() [ENTER]");
  const bool ready = InitMULTICAST();
  setUpDone_.Signal();
  TraceLine("CMULTICASTRunner::InitInstance() [EXIT]");
  if (ready) Run();
  TraceLine("CMULTICASTRunner::ExitInstance() [ENTER]");
  TraceLine("CMULTICASTRunner::ExitInstance() [EXIT]");
}

bool CMULTICASTRunner::InitMULTICAST() {
  TraceLine("CMULTICASTRunner::InitMULTICAST() [ENTER]");
  socket_ = Socket::Udp();
  TraceLine("CMULTICASTRunner::InitMULTICAST : UDP listen socket successfully created\n");

  const Ipv4Endpoint local = Ipv4Endpoint::Any(bindPort_);
  if (::bind(socket_.Fd(), local.Get(), Ipv4Endpoint::Size()) != 0) {
    const int error = errno;
    TraceLine("ERROR CMULTICASTRunner::InitMULTICAST : bind() failed.\n");
    // The server goes on without announcements; the operator must hear of it.
    runner_.PostEvent(ServerEvent(
        LOG_FAILURE, {"MULTICAST: port " + std::to_string(bindPort_) + " could not be opened (" +
                      std::strerror(error) + "); nothing will be announced"}));
    return false;
  }
  TraceLine("CMULTICASTRunner::InitMULTICAST : UDP listen socket successfully binded\n");

  const int ttl = 1;  // announcements never pass a router
  if (::setsockopt(socket_.Fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
    TraceLine("ERROR CMULTICASTRunner::InitMULTICAST : setsockopt() failed.\n");
    return false;
  }
  TraceLine("CMULTICASTRunner::InitMULTICAST : setsockopt OK\n");
  if (!interfaceAddress_.empty()) {
    const std::optional<Ipv4Endpoint> chosen = Ipv4Endpoint::Parse(interfaceAddress_, 0);
    in_addr address{};
    if (chosen) address.s_addr = chosen->Address();
    if (!chosen || ::setsockopt(socket_.Fd(), IPPROTO_IP, IP_MULTICAST_IF, &address,
                                sizeof address) != 0) {
      runner_.PostEvent(ServerEvent(
          LOG_FAILURE, {"MULTICAST: the interface " + interfaceAddress_ +
                        " cannot send; nothing will be announced"}));
      return false;
    }
  }
  TraceLine("CMULTICASTRunner::InitMULTICAST() [EXIT]");
  return true;
}

void CMULTICASTRunner::Run() {
  TraceLine("CMULTICASTRunner::Run() [ENTER]");
  const MavoraProtocolServer& protocol = runner_.protocol();
  while (!stopping_.load()) {
    runner_.multicastWakeUp().Wait();
    if (stopping_.load()) break;
    for (const MavoraProtocol::Fields& fields : Take()) {
      protocol.sendMsgMULTICAST(protocol.joinParams(fields), groupAddress_, destinationPort_,
                                socket_.Fd());
    }
  }
}

void CMULTICASTRunner::Hand(MavoraProtocol::Fields fields) {
  // The kind of an announcement is its first field.
  const auto kind = [](const MavoraProtocol::Fields& list) {
    return list.empty() ? std::string() : list.front();
  };
  MutexLock lock(mu_);
  std::erase_if(pending_, [&](const MavoraProtocol::Fields& waiting) {
    return kind(waiting) == kind(fields);
  });
  pending_.push_back(std::move(fields));
}

std::deque<MavoraProtocol::Fields> CMULTICASTRunner::Take() {
  MutexLock lock(mu_);
  return std::exchange(pending_, {});
}

void CMULTICASTRunner::Close() {
  if (stopping_.exchange(true)) return;
  TraceLine("CMULTICASTRunner::Close() [ENTER]");
  runner_.multicastWakeUp().Signal();
  if (thread_.joinable()) thread_.join();
  socket_.Close();
  TraceLine("CMULTICASTRunner::Close() [EXIT]");
}

}  // namespace ondavox::server
