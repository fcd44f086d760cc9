// Client sessions against scripted peers on the loopback of the test's private network: a TCP
// server that answers the client's lines from a script, and announcements sent to the group.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>

#include "client/core/ClientRunner.h"
#include "common/PublicKeyText.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/support/TempDir.h"

namespace ondavox::client {
namespace {

using test::AnnouncementSender;
using test::FakeReceiverObject;
using test::RecordingLauncher;
using test::RecordingLogBox;
using test::RecordingView;
using test::ReplyLine;
using test::ScriptedServer;
using test::TcpLine;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

constexpr char kGroup[] = "230.0.0.1";
constexpr int kMulticastPort = 2001;
const std::vector<std::string> kLogin = {"LOGIN", "ann", "pw", "127.0.0.1", "666"};
constexpr char kLoginLine[] = "LOGIN\tann\tpw\t127.0.0.1\t666";
constexpr char kUdpClosed[] = "[UDP] You've been disconnected";
constexpr char kTcpClosed[] = "[TCP] You've been disconnected";

// Replies with |code| and a line feed to every line.
ScriptedServer::Reply Always(std::string_view code) {
  return [code](const std::string&) { return ReplyLine(code); };
}

class ClientSessionTest : public testing::Test {
 protected:
  ClientSessionTest() {
    SetTraceSink([this](std::string_view line) {
      MutexLock lock(traceMu_);
      if (line == "Multicast waiting") ++listening_;
    });
    runner_ = std::make_unique<ClientRunner>(launcher_, [this] { return fcast_; });
    runner_->PublishView(&view_, &view_, &view_);
    runner_->settings().Update(download_.path().string() + "/", {});
  }
  ~ClientSessionTest() override {
    runner_.reset();
    SetTraceSink({});
  }

  int Listening() {
    MutexLock lock(traceMu_);
    return listening_;
  }
  // Connects to |server| and waits until the listener receives.
  void Connect(const ScriptedServer& server, const std::string& group = kGroup) {
    const int before = Listening();
    runner_->Connect(server.Port(), kMulticastPort, "127.0.0.1", group);
    ASSERT_TRUE(WaitFor([&] { return Listening() > before; }));
  }
  void Announce(const std::string& bytes) { sender_.Send(kGroup, kMulticastPort, bytes); }
  // Waits until the session has closed and |sessions| have logged their last line in all.
  bool WaitClosed(int sessions = 1) {
    return WaitFor([&] { return !runner_->connected() && log_.Count(kTcpClosed) >= sessions; });
  }
  bool InOrder(const std::vector<std::string>& expected) const { return log_.InOrder(expected); }

  RecordingLogBox log_;
  RecordingView view_;
  RecordingLauncher launcher_;
  TempDir download_;
  AnnouncementSender sender_;
  std::shared_ptr<FakeReceiverObject> fcast_ = std::make_shared<FakeReceiverObject>();
  Mutex traceMu_;
  int listening_ GUARDED_BY(traceMu_) = 0;
  std::unique_ptr<ClientRunner> runner_;
};

TEST_F(ClientSessionTest, LoginPlaylistAndLogout) {
  ScriptedServer server([](const std::string& line) -> std::optional<std::string> {
    return line.starts_with("LOGOUT") ? ReplyLine(kLogoutAccepted) : ReplyLine(kLoginAccepted);
  });
  runner_->Connect(server.Port(), kMulticastPort, "127.0.0.1", kGroup);
  EXPECT_TRUE(runner_->connected()) << "connected before the connection exists";
  runner_->SendTCP(kLogin);  // posted before the connection is made
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  ASSERT_TRUE(server.WaitForLines(2));
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{kLoginLine, "KEY"}));
  EXPECT_TRUE(InOrder(
      {"[INFO] You are connected", std::string("[SEND] ") + kLoginLine, TcpLine(kLoginAccepted)}));

  // A playlist far longer than 256 bytes reaches the list whole.
  ASSERT_TRUE(WaitFor([&] { return Listening() > 0; }));
  std::string announcement = "PLAYLIST";
  std::vector<PlaylistRow> rows;
  for (int i = 0; i < 30; ++i) {
    rows.push_back({"track-" + std::to_string(100 + i) + "-long.mp3", "owner"});
    announcement += "\t" + rows.back().document + "\t" + rows.back().owner;
  }
  ASSERT_LT(announcement.size(), 999u);
  ASSERT_GT(announcement.size(), 256u);
  Announce(announcement + "\n");
  ASSERT_TRUE(log_.WaitForLine("[UDP] " + announcement));
  EXPECT_TRUE(InOrder({"[UDP] Playlist changed", "[UDP] " + announcement}));
  EXPECT_EQ(view_.Rows(), rows);

  runner_->SendTCP({"LOGOUT", "ann"});
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(InOrder({"[SEND] LOGOUT\tann", kUdpClosed, kTcpClosed}));
  EXPECT_EQ(log_.Count(TcpLine(kLogoutAccepted)), 0);
  EXPECT_TRUE(WaitFor([&] { return server.Ended() == 1; }));
}

TEST_F(ClientSessionTest, RefusedLoginEndsTheSessionWithoutLoggingTheCode) {
  ScriptedServer server(Always(kLoginRefused));
  Connect(server);
  EXPECT_EQ(view_.connectionChanges, 1) << "told of the opened session";
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(view_.connectionChanges, 2) << "told of the session closed by the refusal";
  EXPECT_TRUE(InOrder({std::string("[SEND] ") + kLoginLine, kUdpClosed, kTcpClosed}));
  EXPECT_EQ(log_.Count(TcpLine(kLoginRefused)), 0);
  EXPECT_EQ(log_.Count(kUdpClosed), 1);

  // A command posted once the session has closed goes nowhere.
  runner_->SendTCP({"WHOIS", "late"});
  ScriptedServer next(Always(kLoginAccepted));
  Connect(next);
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  ASSERT_TRUE(next.WaitForLines(2));
  EXPECT_EQ(next.Lines(), (std::vector<std::string>{kLoginLine, "KEY"}));
  EXPECT_EQ(server.Lines().size(), 1u);
}

TEST_F(ClientSessionTest, RepliesGoToTheLogOrTheInfosBox) {
  ScriptedServer server([](const std::string& line) -> std::optional<std::string> {
    if (line.starts_with("REGISTER")) return ReplyLine(kRegistered);
    if (line == "WHOIS\tann") return "Login : \t\tann%#Name : \t\tAnn%#\n";
    if (line == "WHOIS\tzero") return "0\n";
    if (line == "X") return "4011\n";
    if (line == "EMPTY") return "\r\n";
    return ReplyLine(kUnknownCommand);
  });
  Connect(server);
  runner_->SendTCP({"REGISTER", "ann", "pw", "Ann", "Lee", "127.0.0.1", "666"});
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kRegistered)));
  runner_->SendTCP({"WHOIS", "ann"});
  ASSERT_TRUE(WaitFor([&] { return view_.Infos().has_value(); }));
  EXPECT_EQ(view_.Infos(), "Login : \t\tann\r\nName : \t\tAnn\r\n");
  runner_->SendTCP({"X"});
  ASSERT_TRUE(log_.WaitForLine("[TCP] 4011"));
  runner_->SendTCP({"WHOIS", "zero"});
  ASSERT_TRUE(WaitFor([&] { return view_.Infos() == "0"; }));
  runner_->SendTCP({"\tWHOIS"});
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kUnknownCommand)));
  EXPECT_TRUE(runner_->connected());
  EXPECT_EQ(server.Lines(),
            (std::vector<std::string>{"REGISTER\tann\tpw\tAnn\tLee\t127.0.0.1\t666", "KEY",
                                      "WHOIS\tann", "X", "WHOIS\tzero", "\tWHOIS"}));
  // An empty line is no reply: the connection counts as lost.
  runner_->SendTCP({"EMPTY"});
  ASSERT_TRUE(WaitClosed());
  EXPECT_EQ(view_.Infos(), "0");
}

TEST_F(ClientSessionTest, ServerThatClosesAtOnce) {
  ScriptedServer server(Always(kLoginAccepted), /*closeAtOnce=*/true);
  Connect(server);
  ASSERT_TRUE(log_.WaitForLine("[INFO] You are connected"));
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(InOrder({"[INFO] You are connected", kUdpClosed, kTcpClosed}));
}

TEST_F(ClientSessionTest, UnreachableServerOrAddressThatIsNoAddress) {
  int sessions = 0;
  for (const std::string& address : {std::string("127.0.0.1"), std::string("localhost")}) {
    runner_->Connect(test::UnusedTcpPort(), kMulticastPort, address, kGroup);
    ASSERT_TRUE(WaitClosed(++sessions)) << address;
    EXPECT_TRUE(InOrder({"[ERROR] problem TCP", kUdpClosed, kTcpClosed})) << address;
    EXPECT_EQ(log_.Count("[INFO] You are connected"), 0);
  }
  EXPECT_EQ(log_.Count("[ERROR] problem TCP"), 2);
  EXPECT_EQ(log_.Count(kTcpClosed), 2);
}

TEST_F(ClientSessionTest, CommandsPostedWhileBusyCollapseIntoTheLast) {
  std::latch release(1);
  ScriptedServer server([&](const std::string& line) -> std::optional<std::string> {
    if (line == "WHOIS\ta") release.wait();
    return ReplyLine(kUnknownUser);
  });
  Connect(server);
  runner_->SendTCP({"WHOIS", "a"});
  ASSERT_TRUE(server.WaitForLines(1));
  runner_->SendTCP({"WHOIS", "b"});
  runner_->SendTCP({"WHOIS", "c"});
  release.count_down();
  ASSERT_TRUE(server.WaitForLines(2));
  ASSERT_TRUE(WaitFor([&] { return log_.Count(TcpLine(kUnknownUser)) == 2; }));
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{"WHOIS\ta", "WHOIS\tc"}));
  EXPECT_EQ(log_.Count("[SEND] WHOIS\tb"), 0);
}

TEST_F(ClientSessionTest, LogoutAnnouncementClosesTheWholeSession) {
  ScriptedServer server(Always(kLoginAccepted));
  Connect(server);
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  Announce("LOGOUT\n");
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(InOrder({kUdpClosed, kTcpClosed}));
  EXPECT_TRUE(WaitFor([&] { return server.Ended() == 1; })) << "the TCP connection is closed";
  EXPECT_EQ(log_.Count("[UDP] Playlist changed"), 0);
}

TEST_F(ClientSessionTest, WakeUpOfAClosedSessionIsNotTakenByTheNext) {
  std::latch never(1);
  ScriptedServer silent([&](const std::string&) -> std::optional<std::string> {
    never.wait();
    return std::nullopt;
  });
  Connect(silent);
  runner_->SendTCP({"WHOIS", "first"});
  ASSERT_TRUE(silent.WaitForLines(1));
  runner_->SendTCP({"WHOIS", "stale"});  // pending, with its wake-up, when the session closes
  Announce("LOGOUT\n");
  ASSERT_TRUE(WaitClosed());
  never.count_down();

  ScriptedServer next(Always(kLoginAccepted));
  Connect(next);
  ASSERT_TRUE(log_.WaitForLine("[INFO] You are connected"));
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  ASSERT_TRUE(next.WaitForLines(2));
  EXPECT_EQ(next.Lines(), (std::vector<std::string>{kLoginLine, "KEY"}));
  EXPECT_EQ(log_.Count("[SEND] WHOIS\tstale"), 0);
}

TEST_F(ClientSessionTest, BothThreadsFailingTogetherCloseOnce) {
  constexpr int kRounds = 10;
  for (int round = 0; round < kRounds; ++round) {
    AnnouncementSender logout;
    // The server drops the connection and announces LOGOUT at the same moment.
    ScriptedServer server([&](const std::string&) -> std::optional<std::string> {
      logout.Send(kGroup, kMulticastPort, "LOGOUT\n");
      return std::nullopt;
    });
    Connect(server);
    runner_->SendTCP(kLogin);
    ASSERT_TRUE(WaitFor([&] { return !runner_->connected(); }));
    ASSERT_TRUE(WaitFor([&] { return log_.Count(kTcpClosed) == round + 1; }));
  }
  runner_.reset();
  EXPECT_EQ(log_.Count(kUdpClosed), kRounds);
  EXPECT_EQ(log_.Count(kTcpClosed), kRounds);
}

TEST_F(ClientSessionTest, ListenerSetUpFailuresCloseTheSession) {
  ScriptedServer server(Always(kLoginAccepted));
  {
    // Another program holds the port.
    Socket holder = Socket::Udp();
    const Ipv4Endpoint local = Ipv4Endpoint::Any(kMulticastPort);
    ASSERT_EQ(::bind(holder.Fd(), local.Get(), Ipv4Endpoint::Size()), 0);
    runner_->Connect(server.Port(), kMulticastPort, "127.0.0.1", kGroup);
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(InOrder({"[ERROR] problem MULTICAST bind", kUdpClosed, kTcpClosed}));
  }
  for (const std::string& group : {std::string(), std::string("not.a.group")}) {
    runner_->Connect(server.Port(), kMulticastPort, "127.0.0.1", group);
    ASSERT_TRUE(WaitFor([&] { return log_.Count(kTcpClosed) == (group.empty() ? 2 : 3); }));
    EXPECT_FALSE(runner_->connected());
  }
  EXPECT_EQ(log_.Count("[ERROR] problem MULTICAST setsockopt"), 2);
  EXPECT_EQ(log_.Count(kUdpClosed), 3);
  EXPECT_EQ(log_.Count("[ERROR] probleme de dejoinage"), 0);
}

TEST_F(ClientSessionTest, AnnouncementsEdgeCases) {
  ScriptedServer server(Always(kLoginAccepted));
  Connect(server);
  Announce("PLAYLIST\ta.mp3\tu1\tb.wav\tu2X");  // no line feed: its last character goes
  ASSERT_TRUE(WaitFor([&] { return view_.Rows().has_value(); }));
  EXPECT_EQ(view_.Rows(), (std::vector<PlaylistRow>{{"a.mp3", "u1"}, {"b.wav", "u2"}}));
  Announce("");
  ASSERT_TRUE(log_.WaitForLine("[UDP] "));
  Announce("USERS\tx\n");
  Announce("playlist\tz\tz\n");
  Announce("FCAST\t230.0.0.2\t1711\n");
  const std::string start = "Init 230.0.0.2 1711 " + download_.path().string() + "/";
  ASSERT_TRUE(WaitFor([&] {
    const auto calls = fcast_->Calls();
    return std::find(calls.begin(), calls.end(), start) != calls.end();
  }));
  EXPECT_TRUE(log_.WaitForLine("[FCAST] Start OK"));
  EXPECT_EQ(view_.Rows()->size(), 2u);
  EXPECT_EQ(log_.Count("[UDP] Playlist changed"), 1);
  EXPECT_TRUE(runner_->connected());
}

TEST_F(ClientSessionTest, LostServerClosesTheIdleSessionAndExtraLinesAreNoReplies) {
  auto server = std::make_unique<ScriptedServer>([](const std::string& line) {
    // The login's reply comes with a line nobody asked for.
    return line.starts_with("LOGIN") ? ReplyLine(kLoginAccepted) + "999\n"
                                     : ReplyLine(kUnknownUser);
  });
  Connect(*server);
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  runner_->SendTCP({"WHOIS", "x"});
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kUnknownUser)));
  EXPECT_EQ(log_.Count("[TCP] 999"), 0);
  const int changes = view_.connectionChanges;

  server.reset();  // the server goes while the client has nothing to send
  ASSERT_TRUE(WaitClosed());
  EXPECT_TRUE(InOrder({TcpLine(kUnknownUser), kUdpClosed, kTcpClosed}));
  EXPECT_EQ(view_.connectionChanges, changes + 1);
}

TEST_F(ClientSessionTest, ReceiptsFollowTheLoginQueueBesideCommandsAndStopAt406) {
  constexpr char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::latch release(1);
  int receipts = 0;
  ScriptedServer server([&](const std::string& line) {
    if (line == "WHOIS\tslow") release.wait();
    if (!line.starts_with("RECEIVED")) return ReplyLine(kLoginAccepted);
    return ReplyLine(++receipts == 1 ? kReceiptRecorded : kUnknownCommand);
  });
  Mutex debugMu;
  int dropped = 0;
  SetDebugSink([&](std::string_view text) {
    MutexLock lock(debugMu);
    if (text.starts_with("CTCPDialog: receipt not sent")) ++dropped;
  });
  const auto droppedCount = [&] {
    MutexLock lock(debugMu);
    return dropped;
  };
  const std::string folder = download_.path().string() + "/";
  long id = 0;
  const auto complete = [&](const std::string& name) {
    WriteFile(folder + name, "abc");
    fcast_->Push({kFcastOk, FCASTRE_FILE_COMPLETE, 0, ++id, 3, name});
  };
  Connect(server);
  ASSERT_TRUE(runner_->fcastReceiver().Start("230.0.0.2", 1711, folder));

  complete("early.txt");  // before any login: not sent
  ASSERT_TRUE(WaitFor([&] { return droppedCount() == 1; }));
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));

  // A receipt and two commands while the server is busy: the last command replaces the one
  // before it, the receipt stays.
  runner_->SendTCP({"WHOIS", "slow"});
  ASSERT_TRUE(server.WaitForLines(3));
  complete("a.txt");
  ASSERT_TRUE(WaitFor([&] { return launcher_.Launches().size() == 2; }));
  runner_->SendTCP({"WHOIS", "b"});
  runner_->SendTCP({"WHOIS", "c"});
  release.count_down();
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kReceiptRecorded)));

  // The server does not know RECEIVED: that answer is not logged, and no receipt follows.
  complete("b.txt");
  ASSERT_TRUE(server.WaitForLines(6));
  complete("c.txt");
  ASSERT_TRUE(WaitFor([&] { return droppedCount() == 2; }));
  runner_->SendTCP({"WHOIS", "d"});
  ASSERT_TRUE(server.WaitForLines(7));
  ASSERT_TRUE(WaitFor([&] { return log_.Count(TcpLine(kLoginAccepted)) == 4; }));
  SetDebugSink({});
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{
                                kLoginLine, "KEY", "WHOIS\tslow", "WHOIS\tc",
                                std::string("RECEIVED\ta.txt\t3\t") + kAbcDigest,
                                std::string("RECEIVED\tb.txt\t3\t") + kAbcDigest, "WHOIS\td"}));
  EXPECT_EQ(log_.Count(TcpLine(kUnknownCommand)), 0);
  EXPECT_TRUE(runner_->connected());
}

TEST_F(ClientSessionTest, DestroyingTheRunnerClosesAnOpenSession) {
  ScriptedServer server(Always(kLoginAccepted));
  Connect(server);
  ASSERT_TRUE(log_.WaitForLine("[INFO] You are connected"));
  runner_.reset();
  EXPECT_EQ(log_.Count(kUdpClosed), 1);
  EXPECT_EQ(log_.Count(kTcpClosed), 1);
  EXPECT_TRUE(WaitFor([&] { return server.Ended() == 1; }));
}

TEST_F(ClientSessionTest, ServerKeyIsAskedOnceLoggedInAndPinned) {
  const std::vector<unsigned char> first(kPublicKeySize, 1);
  const std::string key = EncodePublicKey(first);
  ScriptedServer server([&](const std::string& line) {
    return line == "KEY" ? std::string(kServerKey) + "\t" + key + "\n" : ReplyLine(kLoginAccepted);
  });
  Connect(server);
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine("[KEY] Pinned the server's key " + KeyFingerprint(first)));
  runner_->SendTCP(kLogin);  // a second login of the session asks nothing more
  ASSERT_TRUE(WaitFor([&] { return log_.Count(TcpLine(kLoginAccepted)) == 2; }));
  EXPECT_EQ(server.Lines(), (std::vector<std::string>{kLoginLine, "KEY", kLoginLine}));
  EXPECT_EQ(log_.Count("[TCP] " + std::string(kServerKey) + "\t" + key), 0);
  const std::vector<std::string> calls = fcast_->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "SetTrustedKey " + EncodePublicKey(first)),
            calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "SetSource "), calls.end())
      << "a server on this host gives the receiver no source address";
}

TEST_F(ClientSessionTest, AnnouncementsFromAnotherAddressAreDroppedWithOneLinePerAddress) {
  ScriptedServer server(Always(kLoginAccepted));
  Connect(server);
  runner_->SendTCP(kLogin);
  ASSERT_TRUE(log_.WaitForLine(TcpLine(kLoginAccepted)));
  AnnouncementSender stray("127.0.0.2");
  stray.Send(kGroup, kMulticastPort, "LOGOUT\n");
  stray.Send(kGroup, kMulticastPort, "PLAYLIST\tevil\tx\n");
  Announce("PLAYLIST\tgood\ty\n");
  ASSERT_TRUE(log_.WaitForLine("[UDP] PLAYLIST\tgood\ty"));
  EXPECT_TRUE(runner_->connected());
  EXPECT_EQ(log_.Count("[UDP] Announcements from 127.0.0.2 dropped: not the server"), 1);
  EXPECT_EQ(log_.Count("[UDP] Playlist changed"), 1);
  EXPECT_EQ(view_.Rows(), (std::vector<PlaylistRow>{{"good", "y"}}));
}

}  // namespace
}  // namespace ondavox::client
