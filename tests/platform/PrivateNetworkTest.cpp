#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/Ipv4Endpoint.h"
#include "platform/PrivateNetwork.h"
#include "platform/Socket.h"

namespace ondavox {
namespace {

TEST(PrivateNetwork, OnlyLoopbackIsVisible) {
  EXPECT_EQ(VisibleInterfaces(), std::vector<std::string>{"lo"});
  EXPECT_TRUE(OnlyLoopbackVisible());
}

TEST(PrivateNetwork, MulticastLoopsBackOnTheLoopback) {
  Socket receiver = Socket::Udp();
  ASSERT_TRUE(receiver.Valid());
  const Ipv4Endpoint local = Ipv4Endpoint::Any(42001);
  ASSERT_EQ(::bind(receiver.Fd(), local.Get(), Ipv4Endpoint::Size()), 0);
  const Ipv4Endpoint group = *Ipv4Endpoint::Parse("230.0.0.1", 42001);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group.Address();
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::setsockopt(receiver.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);

  Socket sender = Socket::Udp();
  const char message[] = "PLAYLIST\n";
  ASSERT_EQ(
      ::sendto(sender.Fd(), message, sizeof message - 1, 0, group.Get(), Ipv4Endpoint::Size()),
      static_cast<ssize_t>(sizeof message - 1));
  char buffer[64];
  timeval timeout{5, 0};
  ::setsockopt(receiver.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const ssize_t n = ::recv(receiver.Fd(), buffer, sizeof buffer, 0);
  ASSERT_EQ(n, static_cast<ssize_t>(sizeof message - 1));
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "PLAYLIST\n");
}

}  // namespace
}  // namespace ondavox
