#include "common/MavoraProtocol.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Socket.h"

namespace ondavox {
namespace {

using Fields = MavoraProtocol::Fields;

TEST(MavoraProtocol, ExtractParamsKeepsInnerEmptyFieldsAndDropsOnlyTheFinalEmptyRemainder) {
  const MavoraProtocol protocol;
  EXPECT_EQ(protocol.extractParams("WHOIS"), (Fields{"WHOIS"}));
  EXPECT_EQ(protocol.extractParams("LOGOUT\t"), (Fields{"LOGOUT"}));
  EXPECT_EQ(protocol.extractParams("PLAYLIST\t\t"), (Fields{"PLAYLIST", ""}));
  EXPECT_EQ(protocol.extractParams("A\t\tB"), (Fields{"A", "", "B"}));
  EXPECT_EQ(protocol.extractParams("A\tB\t\t"), (Fields{"A", "B", ""}));
  EXPECT_EQ(protocol.extractParams(""), (Fields{""}));
  EXPECT_EQ(protocol.extractParams("\t"), (Fields{""}));
  EXPECT_EQ(protocol.extractParams("\tX"), (Fields{"", "X"}));
  EXPECT_EQ(protocol.extractParams("LOGIN\tann\tsecret\t10.0.0.2\t1234").size(), 5u);
}

TEST(MavoraProtocol, JoinAndSplitAreInverseForFieldsWithoutTrailingEmpty) {
  const MavoraProtocol protocol;
  EXPECT_EQ(protocol.joinParams({}), "");
  EXPECT_EQ(protocol.joinParams({"WHOIS"}), "WHOIS");
  const Fields fields{"REGISTER", "ann", "pw", "", "Smith", "10.0.0.2", "1234"};
  EXPECT_EQ(protocol.extractParams(protocol.joinParams(fields)), fields);
}

TEST(MavoraProtocol, SeparatorIsFixedAtConstruction) {
  const MavoraProtocol protocol(';');
  EXPECT_EQ(protocol.separator(), ';');
  EXPECT_EQ(protocol.joinParams({"a", "b"}), "a;b");
  EXPECT_EQ(protocol.extractParams("a\tb;c"), (Fields{"a\tb", "c"}));
}

TEST(MavoraProtocol, FcastAnnouncementTravelsAsTwentyOneBytes) {
  const MavoraProtocol protocol;
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Socket a(fds[0]);
  Socket b(fds[1]);
  ASSERT_TRUE(MavoraProtocol::sendLine(a.Fd(), protocol.joinParams({"FCAST", "230.0.0.2", "1711"})));
  a.Close();
  char bytes[64];
  const ssize_t n = ::recv(b.Fd(), bytes, sizeof bytes, MSG_WAITALL);
  ASSERT_EQ(n, 21);
  EXPECT_EQ(std::string(bytes, 21), "FCAST\t230.0.0.2\t1711\n");
}

TEST(MavoraProtocol, SendLineToAClosedPeerFailsWithoutKillingTheProcess) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Socket a(fds[0]);
  ::close(fds[1]);
  EXPECT_FALSE(MavoraProtocol::sendLine(a.Fd(), "201"));
}

}  // namespace
}  // namespace ondavox
