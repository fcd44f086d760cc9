#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <thread>

#include "platform/Ipv4Endpoint.h"
#include "platform/PrivateNetwork.h"
#include "tests/lab/NetworkLab.h"

namespace ondavox::lab {
namespace {

constexpr const char* kGroup = "230.0.0.2";
constexpr uint16_t kPort = 42011;

std::unique_ptr<NetworkLab> MakeLab(int hosts) {
  std::string error;
  auto lab = NetworkLab::Create(hosts, &error);
  EXPECT_NE(lab, nullptr) << error;
  return lab;
}

// A socket of |host| that has joined kGroup on kPort, with room for every probe of a test.
Socket JoinGroup(const NetworkLab& lab, int host) {
  Socket socket = lab.OpenUdpSocket(host);
  EXPECT_TRUE(socket.Valid());
  const int buffer = 8 << 20;
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
  const Ipv4Endpoint local = Ipv4Endpoint::Any(kPort);
  EXPECT_EQ(::bind(socket.Fd(), local.Get(), Ipv4Endpoint::Size()), 0);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = Ipv4Endpoint::Parse(kGroup, kPort)->Address();
  membership.imr_interface.s_addr = Ipv4Endpoint::Parse(NetworkLab::Address(host), 0)->Address();
  EXPECT_EQ(::setsockopt(socket.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
  return socket;
}

// Sends |count| numbered datagrams from |host| to the group, paced so no buffer overflows.
void SendProbes(const NetworkLab& lab, int host, int count) {
  Socket socket = lab.OpenUdpSocket(host);
  ASSERT_TRUE(socket.Valid());
  const Ipv4Endpoint group = *Ipv4Endpoint::Parse(kGroup, kPort);
  for (int i = 0; i < count; ++i) {
    const std::string text = "probe " + std::to_string(i);
    ASSERT_EQ(::sendto(socket.Fd(), text.data(), text.size(), 0, group.Get(), Ipv4Endpoint::Size()),
              static_cast<ssize_t>(text.size()));
    if (i % 50 == 49) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Reads what has arrived (waiting up to |settle| for the tail), counted by sender address.
std::map<std::string, int> Drain(const Socket& socket, std::chrono::milliseconds settle) {
  std::map<std::string, int> received;
  const timeval wait{0, static_cast<suseconds_t>(settle.count() * 1000)};
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  char buffer[2048];
  for (;;) {
    Ipv4Endpoint from;
    socklen_t length = Ipv4Endpoint::Size();
    if (::recvfrom(socket.Fd(), buffer, sizeof buffer, 0, from.Mutable(), &length) < 0) break;
    ++received[from.AddressText()];
  }
  return received;
}

TEST(NetworkLab, HostsReachEachOtherByMulticastFromTheirOwnAddresses) {
  auto lab = MakeLab(3);
  ASSERT_NE(lab, nullptr);
  std::vector<Socket> receivers;
  for (int host = 0; host < 3; ++host) receivers.push_back(JoinGroup(*lab, host));
  for (int host = 0; host < 3; ++host) SendProbes(*lab, host, 5);
  for (int host = 0; host < 3; ++host) {
    const std::map<std::string, int> received = Drain(receivers[static_cast<size_t>(host)],
                                                       std::chrono::milliseconds(300));
    // Each host hears the two others, and itself through the multicast loop.
    EXPECT_EQ(received, (std::map<std::string, int>{{"10.77.0.1", 5}, {"10.77.0.2", 5}, {"10.77.0.3", 5}}))
        << "at host " << host;
  }
  // The caller's own namespace never sees the lab's interfaces.
  EXPECT_EQ(VisibleInterfaces(), std::vector<std::string>{"lo"});
}

TEST(NetworkLab, HostsHaveOnlyLoopbackAndTheirInterfaceWithTheirAddress) {
  auto lab = MakeLab(2);
  ASSERT_NE(lab, nullptr);
  const CommandResult links = lab->Run(1, {"ip", "-o", "link", "show"});
  ASSERT_EQ(links.exit_code, 0) << links.output;
  EXPECT_NE(links.output.find("lo: <LOOPBACK,UP"), std::string::npos) << links.output;
  EXPECT_NE(links.output.find(" eth0@"), std::string::npos) << links.output;
  EXPECT_EQ(std::count(links.output.begin(), links.output.end(), '\n'), 2) << links.output;
  const CommandResult address = lab->Run(1, {"ip", "-4", "-o", "address", "show", "dev", "eth0"});
  EXPECT_NE(address.output.find("inet 10.77.0.2/24"), std::string::npos) << address.output;
  const CommandResult route = lab->Run(1, {"ip", "route", "get", "230.0.0.2"});
  EXPECT_NE(route.output.find("dev eth0"), std::string::npos) << route.output;
}

TEST(NetworkLab, LossDropsAboutTheShareAskedAtThatHostOnlyAndCanBeLifted) {
  auto lab = MakeLab(3);
  ASSERT_NE(lab, nullptr);
  std::string error;
  ASSERT_TRUE(lab->SetLoss(2, 500, &error)) << error;
  Socket clean = JoinGroup(*lab, 1);
  Socket lossy = JoinGroup(*lab, 2);
  constexpr int kProbes = 1000;
  SendProbes(*lab, 0, kProbes);
  EXPECT_EQ(Drain(clean, std::chrono::milliseconds(300))["10.77.0.1"], kProbes);
  const int kept = Drain(lossy, std::chrono::milliseconds(300))["10.77.0.1"];
  // Binomial(1000, 0.5): 350 and 650 lie more than nine standard deviations away.
  EXPECT_GT(kept, 350);
  EXPECT_LT(kept, 650);

  // Loss is inbound: what the lossy host sends arrives whole.
  SendProbes(*lab, 2, kProbes);
  EXPECT_EQ(Drain(clean, std::chrono::milliseconds(300))["10.77.0.3"], kProbes);
  Drain(lossy, std::chrono::milliseconds(50));

  ASSERT_TRUE(lab->SetLoss(2, 0, &error)) << error;
  SendProbes(*lab, 0, kProbes);
  EXPECT_EQ(Drain(lossy, std::chrono::milliseconds(300))["10.77.0.1"], kProbes);
  EXPECT_FALSE(lab->SetLoss(2, 1001, &error));
}

TEST(NetworkLab, TwoLabsAtOnceDoNotHearEachOther) {
  auto first = MakeLab(2);
  auto second = MakeLab(2);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  Socket in_first = JoinGroup(*first, 1);
  Socket in_second = JoinGroup(*second, 1);
  SendProbes(*first, 0, 20);
  EXPECT_EQ(Drain(in_first, std::chrono::milliseconds(300))["10.77.0.1"], 20);
  EXPECT_TRUE(Drain(in_second, std::chrono::milliseconds(100)).empty());
}

TEST(NetworkLab, ProgramsRunOnAHostWithTheirOutputAndExitCode) {
  auto lab = MakeLab(1);
  ASSERT_NE(lab, nullptr);
  std::string error;
  auto shell = lab->Start(0, {"sh", "-c", "echo out; echo err >&2; exit 3"}, &error);
  ASSERT_NE(shell, nullptr) << error;
  EXPECT_EQ(shell->Wait(std::chrono::seconds(10)), 3);
  EXPECT_EQ(shell->Output(), "out\n");
  EXPECT_EQ(shell->Errors(), "err\n");

  EXPECT_EQ(lab->Start(0, {"ondavox-no-such-program"}, &error), nullptr);
  EXPECT_NE(error.find("not found"), std::string::npos) << error;
  EXPECT_EQ(lab->Start(0, {"/nonexistent/program"}, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST(NetworkLab, KillEndsTheProgramAndWhatItStarted) {
  auto lab = MakeLab(1);
  ASSERT_NE(lab, nullptr);
  std::string error;
  auto shell = lab->Start(0, {"sh", "-c", "sleep 60 & echo $!; wait"}, &error);
  ASSERT_NE(shell, nullptr) << error;
  ASSERT_TRUE(test::WaitFor([&] { return shell->Output().find('\n') != std::string::npos; }));
  const pid_t child = std::stoi(shell->Output());
  EXPECT_TRUE(shell->Running());
  EXPECT_EQ(shell->Wait(std::chrono::milliseconds(50)), std::nullopt);
  EXPECT_EQ(shell->Kill(), 128 + SIGKILL);
  EXPECT_FALSE(shell->Running());
  EXPECT_TRUE(test::WaitFor([&] { return ::kill(child, 0) != 0; })) << "the background sleep survived";

  auto sleeper = lab->Start(0, {"sleep", "60"}, &error);
  ASSERT_NE(sleeper, nullptr) << error;
  sleeper->Signal(SIGTERM);
  EXPECT_EQ(sleeper->Wait(std::chrono::seconds(10)), 128 + SIGTERM);
}

TEST(NetworkLab, TeardownLeavesNoNamespaceNorProgramBehind) {
  std::vector<pid_t> holders;
  pid_t program = 0;
  {
    auto lab = MakeLab(3);
    ASSERT_NE(lab, nullptr);
    for (int host = 0; host < 3; ++host) holders.push_back(lab->Host(host).HolderPid());
    std::string error;
    auto sleeper = lab->Start(1, {"sleep", "60"}, &error);
    ASSERT_NE(sleeper, nullptr) << error;
    program = sleeper->Pid();
    ASSERT_TRUE(lab->SetLoss(1, 200, &error)) << error;
  }
  for (pid_t pid : holders) EXPECT_NE(::kill(pid, 0), 0) << "holder " << pid << " is still there";
  EXPECT_NE(::kill(program, 0), 0);
  EXPECT_EQ(VisibleInterfaces(), std::vector<std::string>{"lo"});
}

}  // namespace
}  // namespace ondavox::lab
