#include "fcast/engine/MulticastSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace ondavox::fcast {
namespace {

constexpr int kSocketBuffer = 16 << 20;

Socket Fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + std::strerror(errno);
  return Socket();
}

bool ParseAddress(const std::string& text, in_addr* out) {
  return ::inet_pton(AF_INET, text.c_str(), out) == 1;
}

// Asks for a large buffer, beyond the system's default cap where the process may.
void GrowBuffer(int fd, int option, int forceOption) {
  if (::setsockopt(fd, SOL_SOCKET, forceOption, &kSocketBuffer, sizeof kSocketBuffer) != 0) {
    ::setsockopt(fd, SOL_SOCKET, option, &kSocketBuffer, sizeof kSocketBuffer);
  }
}

}  // namespace

bool IsMulticastGroup(const std::string& address) {
  in_addr group{};
  return ParseAddress(address, &group) && IN_MULTICAST(ntohl(group.s_addr));
}

Socket OpenSendSocket(const std::string& group, std::uint16_t port, const std::string& interface,
                      int ttl, std::string* error) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (!IsMulticastGroup(group) || !ParseAddress(group, &to.sin_addr)) {
    if (error != nullptr) *error = "not a multicast group address: " + group;
    return Socket();
  }
  Socket socket = Socket::Udp();
  if (!socket.Valid()) return Fail(error, "socket");
  const int fd = socket.Fd();
  const unsigned char hops = static_cast<unsigned char>(ttl < 0 ? 1 : (ttl > 255 ? 255 : ttl));
  const unsigned char loop = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) != 0 ||
      ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
    return Fail(error, "multicast options");
  }
  if (!interface.empty()) {
    in_addr local{};
    if (!ParseAddress(interface, &local)) {
      if (error != nullptr) *error = "not an IPv4 interface address: " + interface;
      return Socket();
    }
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0) {
      return Fail(error, "IP_MULTICAST_IF " + interface);
    }
  }
  GrowBuffer(fd, SO_SNDBUF, SO_SNDBUFFORCE);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    return Fail(error, "connect " + group);
  }
  return socket;
}

Socket OpenReceiveSocket(const std::string& group, std::uint16_t port, const std::string& interface,
                         std::string* error) {
  ip_mreq membership{};
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  if (!IsMulticastGroup(group) || !ParseAddress(group, &at.sin_addr)) {
    if (error != nullptr) *error = "not a multicast group address: " + group;
    return Socket();
  }
  membership.imr_multiaddr = at.sin_addr;
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  if (!interface.empty() && !ParseAddress(interface, &membership.imr_interface)) {
    if (error != nullptr) *error = "not an IPv4 interface address: " + interface;
    return Socket();
  }
  Socket socket = Socket::Udp();
  if (!socket.Valid()) return Fail(error, "socket");
  const int fd = socket.Fd();
  const int on = 1;
  // Several receivers of one group may run on one host.
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  GrowBuffer(fd, SO_RCVBUF, SO_RCVBUFFORCE);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
    return Fail(error, "bind " + group);
  }
  if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    return Fail(error, "join " + group);
  }
  return socket;
}

}  // namespace ondavox::fcast
