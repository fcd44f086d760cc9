#include "platform/Ipv4Endpoint.h"

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <array>

namespace ondavox {

Ipv4Endpoint::Ipv4Endpoint() : Ipv4Endpoint(htonl(INADDR_ANY), 0) {}

Ipv4Endpoint::Ipv4Endpoint(in_addr_t address, std::uint16_t port) : address_{} {
  address_.sin_family = AF_INET;
  address_.sin_addr.s_addr = address;
  address_.sin_port = htons(port);
}

Ipv4Endpoint Ipv4Endpoint::Any(std::uint16_t port) { return {htonl(INADDR_ANY), port}; }

Ipv4Endpoint Ipv4Endpoint::Loopback(std::uint16_t port) { return {htonl(INADDR_LOOPBACK), port}; }

std::optional<Ipv4Endpoint> Ipv4Endpoint::Parse(std::string_view text, std::uint16_t port) {
  const std::string terminated(text);
  in_addr address{};
  if (::inet_pton(AF_INET, terminated.c_str(), &address) != 1) return std::nullopt;
  return Ipv4Endpoint(address.s_addr, port);
}

std::optional<Ipv4Endpoint> Ipv4Endpoint::FromLegacyText(std::string_view text,
                                                         std::uint16_t port) {
  const std::string terminated(text);
  in_addr address{};
  if (::inet_aton(terminated.c_str(), &address) == 0) return std::nullopt;
  return Ipv4Endpoint(address.s_addr, port);
}

std::optional<Ipv4Endpoint> Ipv4Endpoint::FromSocket(int fd, NameCall call) {
  Ipv4Endpoint endpoint;
  socklen_t length = Size();
  if (call(fd, endpoint.Mutable(), &length) != 0 || endpoint.address_.sin_family != AF_INET) {
    return std::nullopt;
  }
  return endpoint;
}

std::optional<Ipv4Endpoint> Ipv4Endpoint::LocalOf(int fd) { return FromSocket(fd, ::getsockname); }

std::optional<Ipv4Endpoint> Ipv4Endpoint::PeerOf(int fd) { return FromSocket(fd, ::getpeername); }

std::vector<in_addr_t> Ipv4Endpoint::HostAddresses() {
  std::vector<in_addr_t> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
  }
  ::freeifaddrs(list);
  return addresses;
}

std::uint16_t Ipv4Endpoint::Port() const { return ntohs(address_.sin_port); }

std::string Ipv4Endpoint::AddressText() const {
  std::array<char, INET_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET, &address_.sin_addr, text.data(), text.size());
  return text.data();
}

}  // namespace ondavox
