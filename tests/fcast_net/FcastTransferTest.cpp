// Whole files across the lab with the real tools: sizes around the edges of the format, and a
// receiver that joins during the transfer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <thread>

#include "platform/Ipv4Endpoint.h"
#include "tests/fcast_net/Delivery.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast_net {
namespace {

using namespace std::chrono_literals;

TEST(FcastTransfer, FilesOfEdgeSizesArriveIdenticalAtEveryReceiver) {
  auto fcast = FcastLab::Create(1 + Delivery::kReceivers);
  ASSERT_NE(fcast, nullptr);
  std::vector<SourceFile> sources;
  // Empty, one byte, around 1024 (the unit of the statistics), across several symbols and blocks.
  for (std::uint64_t size :
       {0ull, 1ull, 1023ull, 1024ull, 1025ull, 1400ull, 1401ull, (3ull << 20) + 17}) {
    sources.push_back(WriteSource(fcast->Folder() / "out", "size-" + std::to_string(size) + ".bin",
                                  size, static_cast<std::uint32_t>(size)));
  }
  const Delivery delivery = Delivery::Run(*fcast, sources, 0, 40000, 2);
  EXPECT_EQ(delivery.CompleteEverywhere(), static_cast<int>(sources.size()))
      << delivery.Incomplete();
  // Nothing but the files themselves is left in the folders (no temporary files).
  std::vector<std::string> expected;
  for (const SourceFile& source : sources) expected.push_back(source.Name());
  std::sort(expected.begin(), expected.end());
  for (int host = 1; host <= Delivery::kReceivers; ++host) {
    EXPECT_EQ(FolderEntries(Delivery::Inbox(*fcast, host)), expected) << "host " << host;
  }
}

// Waits on |host| for the first datagram sent to the group; false after |timeout|.
bool WaitForFirstDatagram(FcastLab& fcast, int host, std::chrono::seconds timeout) {
  Socket socket = fcast.Lab().OpenUdpSocket(host);
  const Ipv4Endpoint local = Ipv4Endpoint::Any(kPort);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = ::inet_addr(kGroup);
  membership.imr_interface.s_addr = ::inet_addr(lab::NetworkLab::Address(host).c_str());
  const timeval wait{static_cast<time_t>(timeout.count()), 0};
  if (!socket.Valid() || ::bind(socket.Fd(), local.Get(), Ipv4Endpoint::Size()) != 0 ||
      ::setsockopt(socket.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) !=
          0 ||
      ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
    return false;
  }
  char byte;
  return ::recv(socket.Fd(), &byte, 1, MSG_TRUNC) >= 0;
}

TEST(FcastTransfer, ReceiverThatJoinsWhenFortyPercentHaveGoneByCompletes) {
  auto fcast = FcastLab::Create(2);
  ASSERT_NE(fcast, nullptr);
  constexpr std::uint64_t kSize = 8ull << 20;
  constexpr long kRateKbit = 16000;
  const SourceFile source = WriteSource(fcast->Folder() / "out", "late.bin", kSize, 7);
  const auto round = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double>(kSize * 8.0 / (kRateKbit * 1000.0)));

  auto sender = fcast->StartSender(0, kRateKbit, 2, {source.path});
  ASSERT_NE(sender, nullptr);
  // Time runs from the transfer's first packet, not from the sender's start.
  ASSERT_TRUE(WaitForFirstDatagram(*fcast, 1, 30s));
  const auto first = std::chrono::steady_clock::now();
  std::this_thread::sleep_until(first + 4 * 2 * round / 10);
  auto receiver = fcast->StartReceiver(1, fcast->Folder() / "in", 1);
  ASSERT_NE(receiver, nullptr);
  // It joined during the first round, so part of the file went by without it.
  EXPECT_LT(std::chrono::steady_clock::now() - first, round);
  EXPECT_TRUE(sender->Running());

  EXPECT_EQ(receiver->Wait(60s), 0) << receiver->Output() << receiver->Errors();
  const std::vector<Completion> completions = Completions(receiver->Output());
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0].name, "late.bin");
  EXPECT_EQ(completions[0].size, kSize);
  EXPECT_EQ(Sha256HexOfFile(fcast->Folder() / "in" / "late.bin"), source.sha256);
  EXPECT_EQ(sender->Wait(60s), 0);
}

}  // namespace
}  // namespace ondavox::fcast_net
