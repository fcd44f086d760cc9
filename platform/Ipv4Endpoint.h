#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondavox {

// An IPv4 address and port in the form the socket calls take. A value; any thread.
class Ipv4Endpoint {
 public:
  // 0.0.0.0:0.
  Ipv4Endpoint();
  // |address| in network byte order, |port| in host byte order.
  Ipv4Endpoint(in_addr_t address, std::uint16_t port);

  // Every local address (INADDR_ANY), or the loopback address, at |port|.
  static Ipv4Endpoint Any(std::uint16_t port);
  static Ipv4Endpoint Loopback(std::uint16_t port);
  // Dotted-quad |text| at |port|; nothing when |text| is not a dotted-quad address.
  static std::optional<Ipv4Endpoint> Parse(std::string_view text, std::uint16_t port);
  // |text| read as the classic parser (inet_aton) reads it, which also takes the shortened,
  // hexadecimal and octal forms ("10.1", "0x0a.0.0.1", "010.0.0.1") that settings files may
  // hold, at |port|; nothing when it is no address in any of those forms.
  static std::optional<Ipv4Endpoint> FromLegacyText(std::string_view text, std::uint16_t port);
  // The local or the remote end of the socket |fd|; nothing when the system cannot tell.
  static std::optional<Ipv4Endpoint> LocalOf(int fd);
  static std::optional<Ipv4Endpoint> PeerOf(int fd);
  // The IPv4 addresses of this host's interfaces, in network byte order; empty when the system
  // cannot tell.
  static std::vector<in_addr_t> HostAddresses();

  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  // For calls that fill in an address (recvfrom, accept); Size() is the room they may use.
  sockaddr* Mutable() { return reinterpret_cast<sockaddr*>(&address_); }
  static constexpr socklen_t Size() { return sizeof(sockaddr_in); }

  // The address in network byte order, as in_addr and ip_mreq take it.
  in_addr_t Address() const { return address_.sin_addr.s_addr; }
  // The port in host byte order.
  std::uint16_t Port() const;
  // The address in dotted-quad form ("192.168.1.7").
  std::string AddressText() const;

 private:
  // getsockname or getpeername.
  using NameCall = int (*)(int, sockaddr*, socklen_t*);
  static std::optional<Ipv4Endpoint> FromSocket(int fd, NameCall call);

  sockaddr_in address_;
};

}  // namespace ondavox
