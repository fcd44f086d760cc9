// The client core against the real server core in the same process, in the test binary's
// private network: requests and replies over TCP, announcements from the server's announcer,
// and files broadcast by the server's Fcast sender through the real Fcast component.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "client/core/ClientCommands.h"
#include "client/core/ClientRunner.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "server/net/ServerDataAccess.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
using namespace ondavox::client;
namespace {

constexpr char kGroup[] = "230.0.0.1";
constexpr int kMulticastPort = 2001;
constexpr char kUdpClosed[] = "[UDP] You've been disconnected";
constexpr char kTcpClosed[] = "[TCP] You've been disconnected";

std::vector<std::string> Library() { return {FCAST_LIBRARY}; }

class ClientServerTest : public ServerFixture {
 protected:
  ClientServerTest()
      : ServerFixture(FcastSenderThread::ComponentFactory(
            [](const std::string& text) { ADD_FAILURE() << text; }, Library())) {
    SetTraceSink([this](std::string_view line) {
      MutexLock lock(traceMu_);
      if (line == "Multicast waiting") ++listening_;
    });
    AddUser("ann", "pw");
    client_ = std::make_unique<ClientRunner>(launcher_, [] {
      return ClientRunner::LoadFcastReceiver([](const std::string& text) { ADD_FAILURE() << text; },
                                             Library());
    });
    client_->PublishView(&view_, &view_);
    client_->settings().Update(download_, {{".avi", "/opt/player"}});
  }
  ~ClientServerTest() override {
    client_.reset();
    runner_.Close();
    SetTraceSink({});
  }

  std::string Log() {
    std::string text;
    for (const std::string& line : log_.Bodies()) text += line + "\n";
    return text;
  }
  int Listening() {
    MutexLock lock(traceMu_);
    return listening_;
  }
  // Opens a session and waits until its listener receives.
  void Connect(const std::string& serverAddress = "127.0.0.1") {
    const int before = Listening();
    client_->Connect(kTcpPort, kMulticastPort, serverAddress, kGroup);
    ASSERT_TRUE(WaitFor([&] { return Listening() > before; }));
  }
  void Login(const std::string& login, const std::string& password) {
    client_->SendTCP({"LOGIN", login, password, "127.0.0.1", "666"});
  }
  bool WaitClosed(int sessions = 1) {
    return WaitFor([&] { return !client_->connected() && log_.Count(kTcpClosed) >= sessions; });
  }
  bool InOrder(const std::vector<std::string>& expected) const { return log_.InOrder(expected); }
  bool Online(const std::string& login) {
    const std::optional<CUserInfo> user = User(login);
    return user && user->online() != 0;
  }

  RecordingLogBox log_;
  RecordingView view_;
  RecordingLauncher launcher_;
  const std::string download_ = (dir_.path() / "download").string() + "/";
  Mutex traceMu_;
  int listening_ GUARDED_BY(traceMu_) = 0;
  std::unique_ptr<ClientRunner> client_;
};

TEST_F(ClientServerTest, LoginShowsThePlaylistWholeAndLogoutEndsTheSession) {
  // The Fcast sender keeps broadcasting the head (a real file, slowly) while the test runs;
  // the entries behind it wait their turn.
  std::vector<PlaylistRow> rows;
  for (int i = 0; i < 30; ++i) {
    rows.push_back({"holiday-clip-" + std::to_string(100 + i) + ".avi", "ann"});
    const std::filesystem::path path = dir_.path() / rows.back().document;
    if (i == 0) WriteFile(path, std::string(64 * 1024, 'v'));
    runner_.playlist().AddTail(CDocInfo(rows.back().document, "ann", path, "video/avi", 0, 0, ""));
  }
  StartForLocalClient(/*fcastRate=*/8);
  Connect();
  Login("ann", "pw");
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted))) << Log();
  EXPECT_TRUE(InOrder({"[INFO] You are connected", "[SEND] LOGIN\tann\tpw\t127.0.0.1\t666",
                       TcpLine(kLoginAccepted)}));
  ASSERT_TRUE(log_.WaitForLine("[UDP] Playlist changed"));
  ASSERT_TRUE(WaitFor([&] { return view_.Rows() == rows; })) << Log();
  EXPECT_TRUE(Online("ann"));
  EXPECT_EQ(User("ann")->ipAddress(), "127.0.0.1");

  client_->SendTCP({"WHOIS", "ann"});
  ASSERT_TRUE(WaitFor([&] { return view_.Infos().has_value(); }));
  EXPECT_EQ(view_.Infos(),
            "Login : \t\tann\r\nName : \t\tAnn\r\nLastname : \tSmith\r\nStatus : \t\tOnline\r\n"
            "Banned : \t\tNo\r\nIP : \t\t127.0.0.1\r\n");
  client_->SendTCP({"WHOIS", "nobody"});
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kUnknownUser)));

  client_->SendTCP({"LOGOUT", "ann"});
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(log_.Count(TcpLine(kLogoutAccepted)), 0);
  EXPECT_TRUE(InOrder({"[SEND] LOGOUT\tann", kUdpClosed, kTcpClosed}));
  EXPECT_TRUE(WaitFor([&] { return !Online("ann"); }));
}

// LOGIN and REGISTER carry the address the client's connection comes from, so the server
// records (and WHOIS shows) where the user is. Over a second local address that is not
// 127.0.0.1.
TEST_F(ClientServerTest, LoginAndRegisterCarryTheConnectionsOwnAddress) {
  // The alias lo:1 gives the loopback of the test's private network a second address.
  ifreq alias{};
  std::strncpy(alias.ifr_name, "lo:1", IFNAMSIZ - 1);
  const Ipv4Endpoint second = *Ipv4Endpoint::Parse("10.9.8.7", 0);
  std::memcpy(&alias.ifr_addr, second.Get(), Ipv4Endpoint::Size());
  ASSERT_EQ(::ioctl(Socket::Udp().Fd(), SIOCSIFADDR, &alias), 0) << std::strerror(errno);
  StartForLocalClient();
  Connect("10.9.8.7");
  client_->SendTCP(ClientCommands::Register("bob", "pw", "Bob", "Lee"));
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kRegistered))) << Log();
  client_->SendTCP(ClientCommands::Login("ann", "pw"));
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted))) << Log();
  EXPECT_EQ(User("bob")->ipAddress(), "10.9.8.7");
  EXPECT_EQ(User("ann")->ipAddress(), "10.9.8.7");
}

TEST_F(ClientServerTest, RefusedLoginAndRegisterWithItsAutomaticLogin) {
  StartForLocalClient();
  Connect();
  Login("ann", "wrong");
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(log_.Count(TcpLine(kLoginRefused)), 0);
  EXPECT_TRUE(InOrder({"[SEND] LOGIN\tann\twrong\t127.0.0.1\t666", kUdpClosed, kTcpClosed}));
  EXPECT_FALSE(Online("ann"));

  Connect();
  client_->SendTCP({"REGISTER", "bob", "pw", "Bob", "Lee", "127.0.0.1", "666"});
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kRegistered)));
  EXPECT_TRUE(WaitFor([&] { return Online("bob"); })) << Log();
  EXPECT_TRUE(listener_.Saw(USER_NEW, "bob"));
  // An existing login ends the session.
  client_->SendTCP({"REGISTER", "ann", "x", "A", "B", "127.0.0.1", "666"});
  ASSERT_TRUE(WaitClosed(2));
  EXPECT_EQ(log_.Count(TcpLine(kRegisterRefused)), 0);
}

TEST_F(ClientServerTest, CommandsPostedWhileBusyCollapseIntoTheLast) {
  StartForLocalClient();
  AddUser("a", "1");
  AddUser("b", "1");
  AddUser("c", "1");
  Connect();
  Login("ann", "pw");
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted))) << Log();
  {
    // The server is held inside its data lock, so the first WHOIS waits for its reply.
    ServerDataAccess hold(runner_);
    client_->SendTCP({"WHOIS", "a"});
    ASSERT_TRUE(log_.WaitForLine("[SEND] WHOIS\ta"));
    client_->SendTCP({"WHOIS", "b"});
    client_->SendTCP({"WHOIS", "c"});
  }
  ASSERT_TRUE(WaitFor([&] { return listener_.Saw(LOG_INFO, "WHOIS c completed."); }));
  EXPECT_TRUE(listener_.Saw(LOG_INFO, "WHOIS a completed."));
  EXPECT_FALSE(listener_.Saw(LOG_INFO, "WHOIS b completed."));
  EXPECT_EQ(log_.Count("[SEND] WHOIS\tb"), 0);
}

TEST_F(ClientServerTest, LogoutAnnouncementAndStoppedServer) {
  StartForLocalClient();
  Connect();
  Login("ann", "pw");
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted))) << Log();
  runner_.SendMULTICAST({"LOGOUT"});
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(InOrder({kUdpClosed, kTcpClosed}));
  EXPECT_EQ(log_.Count(kUdpClosed), 1);
  // The server sees the connection go and logs its user out.
  EXPECT_TRUE(WaitFor([&] { return !Online("ann"); }));

  // A stopped server is unreachable.
  runner_.Close();
  client_->Connect(kTcpPort, kMulticastPort, "127.0.0.1", kGroup);
  ASSERT_TRUE(WaitClosed(2));
  EXPECT_EQ(log_.Count("[ERROR] problem TCP"), 1);
}

TEST_F(ClientServerTest, BroadcastFileArrivesAndOpensWithItsProgram) {
  StartForLocalClient();
  const std::string content = [] {
    std::string bytes(150 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
    return bytes;
  }();
  WriteFile(dir_.path() / "clip.avi", content);
  Connect();
  Login("ann", "pw");
  ASSERT_TRUE(log_.WaitForLine("[UDP] Playlist changed")) << Log();

  runner_.playlist().AddTail(
      CDocInfo("clip.avi", "ann", (dir_.path() / "clip.avi").string(), "video/avi", 0, 0, ""));
  runner_.WakeFcastSender();
  ASSERT_TRUE(log_.WaitForLine("[FCAST] Start OK"));
  ASSERT_TRUE(WaitFor([&] { return !launcher_.Launches().empty(); }, std::chrono::seconds(30)));
  EXPECT_EQ(launcher_.Launches(),
            (std::vector<RecordingLauncher::Started>{{"/opt/player", {download_ + "clip.avi"}}}));
  EXPECT_EQ(ReadFile(download_ + "clip.avi"), content);
  EXPECT_TRUE(InOrder({"[FCAST] Init OK", "[FCAST] Start OK", "[FCAST] File received",
                       "[EXEC] " + download_ + "clip.avi"}));
  EXPECT_TRUE(
      WaitFor([&] { return runner_.playlist().GetCount() == 0; }, std::chrono::seconds(30)));
}

}  // namespace
}  // namespace ondavox::test
