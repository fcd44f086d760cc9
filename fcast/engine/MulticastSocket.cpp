#include "fcast/engine/MulticastSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <optional>

#include "platform/Ipv4Endpoint.h"

namespace ondavox::fcast {
namespace {

constexpr int kSocketBuffer = 16 << 20;

// Asks for a large buffer, beyond the system's default cap where the process may.
void GrowBuffer(int fd, int option, int forceOption) {
  if (::setsockopt(fd, SOL_SOCKET, forceOption, &kSocketBuffer, sizeof kSocketBuffer) != 0) {
    ::setsockopt(fd, SOL_SOCKET, option, &kSocketBuffer, sizeof kSocketBuffer);
  }
}

// |group| at |port|, when it is a multicast group address.
StatusOr<Ipv4Endpoint> GroupEndpoint(const std::string& group, std::uint16_t port) {
  const std::optional<Ipv4Endpoint> endpoint = Ipv4Endpoint::Parse(group, port);
  if (!endpoint || !IN_MULTICAST(ntohl(endpoint->Address()))) {
    return Status::InvalidArgument("not a multicast group address: " + group);
  }
  return *endpoint;
}

// The interface address |interface| in network byte order; INADDR_ANY when it is empty.
StatusOr<in_addr_t> InterfaceAddress(const std::string& interface) {
  if (interface.empty()) return htonl(INADDR_ANY);
  const std::optional<Ipv4Endpoint> endpoint = Ipv4Endpoint::Parse(interface, 0);
  if (!endpoint) return Status::InvalidArgument("not an IPv4 interface address: " + interface);
  return endpoint->Address();
}

}  // namespace

bool IsMulticastGroup(const std::string& address) { return GroupEndpoint(address, 0).ok(); }

StatusOr<Socket> OpenSendSocket(const std::string& group, std::uint16_t port,
                                const std::string& interface, int ttl) {
  StatusOr<Ipv4Endpoint> to = GroupEndpoint(group, port);
  if (!to.ok()) return to.status();
  Socket socket = Socket::Udp();
  if (!socket.Valid()) return PosixError("socket", errno);
  const int fd = socket.Fd();
  const unsigned char hops = static_cast<unsigned char>(ttl < 0 ? 1 : (ttl > 255 ? 255 : ttl));
  const unsigned char loop = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) != 0 ||
      ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
    return PosixError("multicast options", errno);
  }
  if (!interface.empty()) {
    StatusOr<in_addr_t> local = InterfaceAddress(interface);
    if (!local.ok()) return local.status();
    const in_addr address{*local};
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) != 0) {
      return PosixError("IP_MULTICAST_IF " + interface, errno);
    }
  }
  GrowBuffer(fd, SO_SNDBUF, SO_SNDBUFFORCE);
  if (::connect(fd, to->Get(), Ipv4Endpoint::Size()) != 0) {
    return PosixError("connect " + group, errno);
  }
  return socket;
}

StatusOr<Socket> OpenReceiveSocket(const std::string& group, std::uint16_t port,
                                   const std::string& interface) {
  StatusOr<Ipv4Endpoint> at = GroupEndpoint(group, port);
  if (!at.ok()) return at.status();
  StatusOr<in_addr_t> local = InterfaceAddress(interface);
  if (!local.ok()) return local.status();
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = at->Address();
  membership.imr_interface.s_addr = *local;
  Socket socket = Socket::Udp();
  if (!socket.Valid()) return PosixError("socket", errno);
  const int fd = socket.Fd();
  const int on = 1;
  // Several receivers of one group may run on one host.
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  GrowBuffer(fd, SO_RCVBUF, SO_RCVBUFFORCE);
  if (::bind(fd, at->Get(), Ipv4Endpoint::Size()) != 0) return PosixError("bind " + group, errno);
  if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    return PosixError("join " + group, errno);
  }
  return socket;
}

}  // namespace ondavox::fcast
