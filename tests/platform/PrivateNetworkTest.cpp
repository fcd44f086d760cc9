#include "platform/PrivateNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

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
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(42001);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(receiver.Fd(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = ::inet_addr("230.0.0.1");
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::setsockopt(receiver.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);

  Socket sender = Socket::Udp();
  sockaddr_in group = local;
  group.sin_addr.s_addr = ::inet_addr("230.0.0.1");
  const char message[] = "PLAYLIST\n";
  ASSERT_EQ(::sendto(sender.Fd(), message, sizeof message - 1, 0, reinterpret_cast<sockaddr*>(&group),
                     sizeof group),
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
