// Datagrams sent as segmented messages (DatagramBatch) and read back, coalesced or not
// (ReceiveBatch), over the loopback of the test's private network.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "fcast/engine/DatagramBacklog.h"
#include "fcast/engine/DatagramBatch.h"
#include "fcast/engine/Pacer.h"
#include "fcast/engine/ReceiveBatch.h"
#include "platform/Socket.h"

namespace ondavox::fcast {
namespace {

using Bytes = std::vector<std::uint8_t>;

sockaddr_in Address(const char* dotted, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  EXPECT_EQ(::inet_pton(AF_INET, dotted, &address.sin_addr), 1);
  return address;
}

// A UDP socket bound to |dotted| on a free port, with room for every datagram of a test.
Socket Bound(const char* dotted) {
  Socket socket = Socket::Udp();
  const int room = 4 << 20;
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  const sockaddr_in at = Address(dotted, 0);
  EXPECT_EQ(::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  return socket;
}

std::uint16_t PortOf(const Socket& socket) {
  sockaddr_in at{};
  socklen_t length = sizeof at;
  ::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&at), &length);
  return ntohs(at.sin_port);
}

// A socket bound to |from| and connected to |to|, as the sender's are.
Socket SenderTo(const Socket& to, const char* from = "127.0.0.1") {
  Socket socket = Bound(from);
  const sockaddr_in address = Address("127.0.0.1", PortOf(to));
  EXPECT_EQ(::connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
            0);
  return socket;
}

// |length| bytes that tell datagram |index| from any other.
Bytes Datagram(int index, std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(index * 31 + i);
  return bytes;
}

void Send(DatagramBatch& batch, const std::vector<Bytes>& datagrams) {
  for (const Bytes& datagram : datagrams) {
    std::memcpy(batch.Next(), datagram.data(), datagram.size());
    ASSERT_TRUE(batch.Commit(datagram.size()));
  }
  ASSERT_TRUE(batch.Flush());
}

bool Readable(int fd) {
  pollfd wait{fd, POLLIN, 0};
  return ::poll(&wait, 1, 2000) == 1;
}

// Reads |count| datagrams through a ReceiveBatch, with their sources.
std::vector<ReceiveBatch::Datagram> ReadBatched(ReceiveBatch& batch, int fd, std::size_t count,
                                                std::vector<Bytes>& copies, int* messages) {
  std::vector<ReceiveBatch::Datagram> got;
  *messages = 0;
  while (got.size() < count && Readable(fd)) {
    const StatusOr<int> n = batch.Read();
    EXPECT_TRUE(n.ok()) << n.status().message();
    if (!n.ok()) break;
    *messages += *n;
    ReceiveBatch::Datagram datagram;
    while (batch.Next(datagram)) {
      EXPECT_FALSE(datagram.truncated);
      copies.emplace_back(datagram.bytes.begin(), datagram.bytes.end());
      got.push_back(datagram);
    }
  }
  return got;
}

std::vector<Bytes> ReadPlain(int fd, std::size_t count) {
  std::vector<Bytes> got;
  while (got.size() < count && Readable(fd)) {
    Bytes buffer(65536);
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0) break;
    buffer.resize(static_cast<std::size_t>(n));
    got.push_back(buffer);
  }
  return got;
}

class SegmentationTest : public ::testing::Test {
 protected:
  Pacer pacer_{std::int64_t{1} << 40};
  std::atomic<bool> stop_{false};
  // Two runs of equal datagrams around a shorter one, more than a message holds.
  std::vector<Bytes> MixedRuns() {
    std::vector<Bytes> datagrams;
    for (int i = 0; i < 70; ++i) datagrams.push_back(Datagram(i, 1200));
    datagrams.push_back(Datagram(70, 300));
    for (int i = 71; i < 80; ++i) datagrams.push_back(Datagram(i, 1200));
    return datagrams;
  }
};

TEST_F(SegmentationTest, RunsArriveWholeAndInOrderCoalescedOrNot) {
  Socket plain = Bound("127.0.0.1");
  Socket coalescing = Bound("127.0.0.1");
  ReceiveBatch batch(coalescing.Fd(), 8);
  ASSERT_TRUE(batch.Coalescing());
  const std::vector<Bytes> datagrams = MixedRuns();
  for (const Socket* to : {&plain, &coalescing}) {
    Socket sender = SenderTo(*to);
    DatagramBatch out(sender.Fd(), pacer_, 100, stop_);
    Send(out, datagrams);
    EXPECT_TRUE(out.Segmenting());
  }
  EXPECT_EQ(ReadPlain(plain.Fd(), datagrams.size()), datagrams);
  std::vector<Bytes> copies;
  int messages = 0;
  ReadBatched(batch, coalescing.Fd(), datagrams.size(), copies, &messages);
  EXPECT_EQ(copies, datagrams);
  // 64 + 6 of 1200 bytes, the odd one, then 9 more: at most four coalesced messages.
  EXPECT_LE(messages, 4);
}

TEST_F(SegmentationTest, CoalescedBufferSplitsAtSegmentSizeWithShortLast) {
  Socket receiver = Bound("127.0.0.1");
  ReceiveBatch batch(receiver.Fd(), 4);
  Socket sender = SenderTo(receiver);
  Bytes payload = Datagram(1, 3500);
  iovec iov{payload.data(), payload.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
  msghdr header{};
  header.msg_iov = &iov;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  cmsghdr* segment = CMSG_FIRSTHDR(&header);
  segment->cmsg_level = SOL_UDP;
  segment->cmsg_type = UDP_SEGMENT;
  segment->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
  const std::uint16_t size = 1000;
  std::memcpy(CMSG_DATA(segment), &size, sizeof size);
  ASSERT_EQ(::sendmsg(sender.Fd(), &header, 0), 3500);

  std::vector<Bytes> copies;
  int messages = 0;
  ReadBatched(batch, receiver.Fd(), 4, copies, &messages);
  EXPECT_EQ(messages, 1);
  ASSERT_EQ(copies.size(), 4u);
  for (std::size_t i = 0; i < copies.size(); ++i) {
    const Bytes expected(payload.begin() + 1000 * i,
                         payload.begin() + std::min<std::size_t>(1000 * (i + 1), 3500));
    EXPECT_EQ(copies[i], expected) << "segment " << i;
  }
}

TEST_F(SegmentationTest, RefusedSegmentationFallsBackWithoutLosingDatagrams) {
  Socket receiver = Bound("127.0.0.1");
  ReceiveBatch batch(receiver.Fd(), 16);
  Socket sender = SenderTo(receiver);
  // Without checksums the system refuses segmented messages.
  const int on = 1;
  ASSERT_EQ(::setsockopt(sender.Fd(), SOL_SOCKET, SO_NO_CHECK, &on, sizeof on), 0);
  DatagramBatch out(sender.Fd(), pacer_, 100, stop_);
  const std::vector<Bytes> datagrams = MixedRuns();
  Send(out, datagrams);
  EXPECT_FALSE(out.Segmenting());
  Send(out, datagrams);
  std::vector<Bytes> copies;
  int messages = 0;
  ReadBatched(batch, receiver.Fd(), 2 * datagrams.size(), copies, &messages);
  ASSERT_EQ(copies.size(), 2 * datagrams.size());
  EXPECT_EQ(std::vector<Bytes>(copies.begin(), copies.begin() + datagrams.size()), datagrams);
  EXPECT_EQ(std::vector<Bytes>(copies.begin() + datagrams.size(), copies.end()), datagrams);
}

TEST_F(SegmentationTest, EachDatagramKeepsItsSource) {
  Socket receiver = Bound("127.0.0.1");
  ReceiveBatch batch(receiver.Fd(), 16);
  const char* sources[] = {"127.0.0.2", "127.0.0.3"};
  Socket first = SenderTo(receiver, sources[0]);
  Socket second = SenderTo(receiver, sources[1]);
  DatagramBatch fromFirst(first.Fd(), pacer_, 16, stop_);
  DatagramBatch fromSecond(second.Fd(), pacer_, 16, stop_);
  // Runs from each source in turn; the first byte of each datagram names its source.
  for (int round = 0; round < 3; ++round) {
    for (int s = 0; s < 2; ++s) {
      std::vector<Bytes> run(5, Bytes(800, static_cast<std::uint8_t>(s)));
      Send(s == 0 ? fromFirst : fromSecond, run);
    }
  }
  std::vector<Bytes> copies;
  int messages = 0;
  const std::vector<ReceiveBatch::Datagram> got =
      ReadBatched(batch, receiver.Fd(), 30, copies, &messages);
  ASSERT_EQ(got.size(), 30u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(copies[i].size(), 800u);
    const sockaddr_in expected = Address(sources[copies[i][0]], 0);
    EXPECT_EQ(got[i].from.sin_addr.s_addr, expected.sin_addr.s_addr) << "datagram " << i;
    EXPECT_EQ(got[i].from.sin_family, AF_INET);
  }
}

TEST_F(SegmentationTest, BacklogKeepsTheOrderAndLeavesTheRestOnTheSocketWhenFull) {
  Socket receiver = Bound("127.0.0.1");
  DatagramBacklog backlog(receiver.Fd(), 1000);
  backlog.Fill();  // nothing waits: returns at once
  EXPECT_TRUE(backlog.Empty());
  Socket sender = SenderTo(receiver);
  DatagramBatch out(sender.Fd(), pacer_, 100, stop_);
  const std::vector<Bytes> datagrams = MixedRuns();
  Send(out, datagrams);
  ASSERT_TRUE(Readable(receiver.Fd()));
  backlog.Fill();
  Send(out, datagrams);
  ASSERT_TRUE(Readable(receiver.Fd()));
  backlog.Fill();  // already past its budget: the second run stays on the socket
  std::vector<Bytes> held;
  for (DatagramBacklog::Held datagram; backlog.Pop(datagram);) {
    EXPECT_FALSE(datagram.truncated);
    EXPECT_EQ(ntohl(datagram.from.sin_addr.s_addr), 0x7f000001u);
    held.push_back(datagram.bytes);
  }
  ASSERT_FALSE(held.empty());
  ASSERT_LE(held.size(), datagrams.size());
  EXPECT_EQ(held, std::vector<Bytes>(datagrams.begin(), datagrams.begin() + held.size()));
  ReceiveBatch batch(receiver.Fd(), 8);
  std::vector<Bytes> rest;
  int messages = 0;
  ReadBatched(batch, receiver.Fd(), 2 * datagrams.size() - held.size(), rest, &messages);
  ASSERT_EQ(held.size() + rest.size(), 2 * datagrams.size());
  held.insert(held.end(), rest.begin(), rest.end());
  std::vector<Bytes> both = datagrams;
  both.insert(both.end(), datagrams.begin(), datagrams.end());
  EXPECT_EQ(held, both);
}

}  // namespace
}  // namespace ondavox::fcast
