#include <gtest/gtest.h>
#include <sys/socket.h>

#include "client/core/ClientCommands.h"
#include "client/core/MavoraProtocolClient.h"
#include "platform/Socket.h"

namespace ondavox::client {
namespace {

class RecordingHost final : public MavoraProtocolClient::Host {
 public:
  void ShowPlaylist(const std::vector<PlaylistRow>& shown) override {
    rows = shown;
    ++playlists;
  }
  std::string DownloadDirectory() const override { return "/home/u/download/"; }
  void StartFcast(const std::string& group, int port, const std::string& folder) override {
    starts.push_back(group + " " + std::to_string(port) + " " + folder);
  }

  std::vector<PlaylistRow> rows;
  int playlists = 0;
  std::vector<std::string> starts;
};

TEST(MavoraProtocolClient, CommandsTravelAsTabJoinedLinesWithOneLineFeed) {
  RecordingHost host;
  MavoraProtocolClient protocol(host);
  // The session thread puts its connection's local address into LOGIN and REGISTER.
  const auto withAddress = [](const MavoraProtocol::Fields& command) {
    return ClientCommands::WithAddress(command, "10.9.8.7");
  };
  EXPECT_EQ(protocol.joinParams(withAddress(ClientCommands::Login("ann", "pw"))),
            "LOGIN\tann\tpw\t10.9.8.7\t666\n");
  EXPECT_EQ(protocol.joinParams(withAddress(ClientCommands::Register("ann", "pw", "---", "Lee"))),
            "REGISTER\tann\tpw\t---\tLee\t10.9.8.7\t666\n");
  EXPECT_EQ(withAddress({"LOGIN\tann\tpw\tx\t1"}), MavoraProtocol::Fields{"LOGIN\tann\tpw\tx\t1"})
      << "typed text is sent as typed";
  EXPECT_EQ(protocol.joinParams(ClientCommands::Logout("ann")), "LOGOUT\tann\n");
  EXPECT_EQ(protocol.joinParams(ClientCommands::Whois("u1")), "WHOIS\tu1\n");
  EXPECT_EQ(protocol.joinParams(ClientCommands::FileInfo("a.mp3", "u1")), "FILEINFO\ta.mp3\tu1\n");
  EXPECT_EQ(protocol.joinParams({"FCAST", "230.0.0.2", "1711"}).size(), 21u);
  EXPECT_EQ(protocol.joinParams({}), "\n");

  // Free text: one field whose spaces became TABs, so the server splits it into words.
  const MavoraProtocol::Fields text = ClientCommands::FreeText(" WHOIS  ann");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(protocol.joinParams(text), "\tWHOIS\t\tann\n");
  EXPECT_EQ(protocol.extractParams(text.front()), (MavoraProtocol::Fields{"", "WHOIS", "", "ann"}));
  EXPECT_EQ(protocol.joinParams(ClientCommands::FreeText("   ")), "\t\t\t\n");
}

TEST(MavoraProtocolClient, PlaylistAnnouncementReplacesTheRows) {
  RecordingHost host;
  MavoraProtocolClient protocol(host);
  EXPECT_EQ(protocol.invoke("PLAYLIST\ta.mp3\tu1\tb.wav\tu2"), MavoraProtocolClient::kPlaylistCode);
  EXPECT_EQ(host.rows, (std::vector<PlaylistRow>{{"a.mp3", "u1"}, {"b.wav", "u2"}}));

  EXPECT_EQ(protocol.invoke("PLAYLIST"), MavoraProtocolClient::kPlaylistCode);
  EXPECT_TRUE(host.rows.empty());

  // A last pair without its owner shows its document with an empty owner.
  EXPECT_EQ(protocol.invoke("PLAYLIST\ta.mp3\tu1\tlonely"), MavoraProtocolClient::kPlaylistCode);
  EXPECT_EQ(host.rows, (std::vector<PlaylistRow>{{"a.mp3", "u1"}, {"lonely", ""}}));
  EXPECT_EQ(host.playlists, 3);
}

TEST(MavoraProtocolClient, FcastStartsTheReceiverWithTheDownloadDirectory) {
  RecordingHost host;
  MavoraProtocolClient protocol(host);
  EXPECT_EQ(protocol.invoke("FCAST\t230.0.0.2\t1711"), MavoraProtocolClient::kFcastCode);
  EXPECT_EQ(protocol.invoke("FCAST\t230.0.0.3\t17x"), MavoraProtocolClient::kFcastCode);
  EXPECT_EQ(host.starts, (std::vector<std::string>{"230.0.0.2 1711 /home/u/download/",
                                                   "230.0.0.3 17 /home/u/download/"}));
  // Short announcements start nothing and do not fail.
  EXPECT_EQ(protocol.invoke("FCAST"), MavoraProtocolClient::kFcastCode);
  EXPECT_EQ(protocol.invoke("FCAST\t230.0.0.2"), MavoraProtocolClient::kFcastCode);
  EXPECT_EQ(host.starts.size(), 2u);
}

TEST(MavoraProtocolClient, OtherWordsChangeNothing) {
  RecordingHost host;
  MavoraProtocolClient protocol(host);
  EXPECT_EQ(protocol.invoke("USERS\tann"), MavoraProtocolClient::kUsersCode);
  EXPECT_EQ(protocol.invoke("DOCS"), MavoraProtocolClient::kDocsCode);
  EXPECT_EQ(protocol.invoke("LOGOUT"), MavoraProtocolClient::kLogoutCode);
  EXPECT_EQ(protocol.invoke("playlist\ta\tb"), MavoraProtocolClient::kUnknownCode);
  EXPECT_EQ(protocol.invoke(""), MavoraProtocolClient::kUnknownCode);
  EXPECT_EQ(protocol.invoke("PLAYLIST "), MavoraProtocolClient::kUnknownCode);
  EXPECT_EQ(host.playlists, 0);
  EXPECT_TRUE(host.starts.empty());
}

TEST(MavoraProtocolClient, DatagramsAreTakenWholeWithoutTheirLastByte) {
  RecordingHost host;
  MavoraProtocolClient protocol(host);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  Socket reader(pair[0]), writer(pair[1]);
  const auto send = [&](const std::string& bytes) {
    ASSERT_EQ(::send(writer.Fd(), bytes.data(), bytes.size(), 0),
              static_cast<ssize_t>(bytes.size()));
  };

  send("PLAYLIST\ta\tu\n");
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(reader.Fd()), "PLAYLIST\ta\tu");
  send("PLAYLIST\ta\tu");  // no line feed: the last character goes
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(reader.Fd()), "PLAYLIST\ta\t");
  send("");
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(reader.Fd()), "");
  // Far beyond the 256 bytes of a request line, up to the largest IPv4 datagram.
  const std::string big = "PLAYLIST\t" + std::string(MavoraProtocolClient::kMaxDatagram - 10, 'x');
  send(big + "\n");
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(reader.Fd()), big);
  // Anything longer cannot be an announcement.
  send(std::string(MavoraProtocolClient::kMaxDatagram + 1, 'y'));
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(reader.Fd()), std::nullopt);
  reader.Close();
  EXPECT_EQ(protocol.ReceiveMsgMULTICAST(-1), std::nullopt);
}

}  // namespace
}  // namespace ondavox::client
