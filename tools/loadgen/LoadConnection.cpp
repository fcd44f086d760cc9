#include "tools/loadgen/LoadConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "common/ReplyCodes.h"

namespace ondavox::load {

LoadConnection::LoadConnection(int index, std::string login, std::string documentName,
                               std::string documentOwner)
    : login_(std::move(login)),
      documentName_(std::move(documentName)),
      documentOwner_(std::move(documentOwner)) {
  sequence_ = static_cast<uint64_t>(index);  // spreads the WHOIS/FILEINFO phase
}

bool LoadConnection::Open(uint32_t address, uint16_t port) {
  socket_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket_.Valid()) return false;
  const int one = 1;
  ::setsockopt(socket_.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = address;
  return ::connect(socket_.Fd(), reinterpret_cast<sockaddr*>(&server), sizeof server) == 0 ||
         errno == EINPROGRESS;
}

bool LoadConnection::SendNext() {
  std::string request;
  if (!registered_) {
    pending_ = Pending::kRegister;
    request = "REGISTER\t" + login_ + "\tpw\tLoad\tTester\t127.0.0.1\t1550\n";
  } else if (++sequence_ % 2 == 0) {
    pending_ = Pending::kWhois;
    request = "WHOIS\t" + login_ + "\n";
  } else {
    pending_ = Pending::kFileinfo;
    request = "FILEINFO\t" + documentName_ + "\t" + documentOwner_ + "\n";
  }
  sentAt_ = Clock::now();
  return SendAll(socket_.Fd(), request);
}

bool LoadConnection::Check(const std::string& reply) const {
  switch (pending_) {
    case Pending::kRegister:
      return reply == kRegistered;
    case Pending::kWhois:
      return reply.starts_with("Login : \t\t" + login_ + "%#Name : \t\tLoad%#");
    case Pending::kFileinfo:
      return reply.starts_with("Filename :\t" + documentName_ + "%#Owner :\t\t" + documentOwner_ + "%#");
    case Pending::kNone:
      return false;  // a reply nobody asked for
  }
  return false;
}

}  // namespace ondavox::load
