#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "server/net/ServerRunner.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

using Events = std::vector<std::pair<int, std::string>>;

// The announcer binds its port without address reuse, so a group member on the same host
// listens on another destination port.
constexpr uint16_t kAnnouncePort = 2002;

class RunningServerTest : public ServerFixture {
 protected:
  void SetUp() override { runner_.Start(Settings()); }

  static ServerRunner::Settings Settings() {
    ServerRunner::Settings settings;
    settings.multicastPort = kAnnouncePort;
    return settings;
  }

  void Enqueue(const std::string& fileName, const std::string& owner) {
    runner_.playlist().AddTail(CDocInfo(fileName, owner, "/srv/" + fileName, "audio/mpeg", 0, 0, ""));
  }
};

TEST_F(RunningServerTest, ServesRequestsAndEndsOnLogout) {
  AddUser("ann", "pw");
  TestClient client(kTcpPort);
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1\r"), kLoginAccepted);
  EXPECT_EQ(client.Ask("WHOIS\tzed"), kUnknownUser);
  EXPECT_EQ(client.Ask("LOGOUT\tbob"), kLogoutRefused) << "the connection stays open";
  EXPECT_EQ(client.Ask("LOGOUT\tann"), kLogoutAccepted);
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(WaitFor([&] { return runner_.LiveConnections() == 0; }));
  EXPECT_EQ(User("ann")->online(), 0);
}

TEST_F(RunningServerTest, LostConnectionLogsItsUserOut) {
  AddUser("ann", "pw");
  {
    TestClient client(kTcpPort);
    ASSERT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  }
  EXPECT_TRUE(WaitFor([&] { return listener_.Saw(USER_OFFLINE, "ann"); }));
  EXPECT_EQ(User("ann")->online(), 0);

  // A connection that never logged in only reports the disconnection.
  listener_.Clear();
  { TestClient client(kTcpPort); }
  // The sender thread's notice that there is no Fcast component may come at any time.
  const auto connectionEvents = [&] {
    Events events = listener_.Events();
    std::erase_if(events, [](const auto& event) { return event.second.starts_with("FCAST: "); });
    return events;
  };
  EXPECT_TRUE(WaitFor([&] { return !connectionEvents().empty(); }));
  EXPECT_EQ(connectionEvents(), (Events{{LOG_FAILURE, "LOGOUT: Client has been disconnected"}}));
}

TEST_F(RunningServerTest, ARefusedLoginCannotKnockTheRealUserOffline) {
  AddUser("ann", "pw");
  TestClient real(kTcpPort);
  ASSERT_EQ(real.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  {
    TestClient intruder(kTcpPort);
    EXPECT_EQ(intruder.Ask("LOGIN\tann\twrong\t10.6.6.6\t1"), kLoginRefused);
    EXPECT_EQ(intruder.Ask("LOGIN\tann\tpw\t10.6.6.6\t1"), kLoginRefused) << "already online";
  }
  EXPECT_TRUE(WaitFor([&] { return listener_.Saw(LOG_FAILURE, "LOGOUT: Client has been disconnected"); }));
  EXPECT_EQ(User("ann")->online(), 1);
  EXPECT_NE(real.Ask("WHOIS\tann").value_or("").find("%#Status : \t\tOnline%#"), std::string::npos);
}

TEST_F(RunningServerTest, EmptyLineEndsTheConnection) {
  AddUser("ann", "pw");
  TestClient client(kTcpPort);
  ASSERT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  ASSERT_TRUE(client.Send("\r\n"));
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_TRUE(WaitFor([&] { return User("ann")->online() == 0; }));
}

TEST_F(RunningServerTest, ManyClientsAtOnceEachGetTheirOwnReplies) {
  constexpr int kClients = 40;
  for (int i = 0; i < kClients; ++i) AddUser("user" + std::to_string(i), "pw");
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      TestClient client(kTcpPort);
      const std::string login = "user" + std::to_string(i);
      bool ok = client.Ask("LOGIN\t" + login + "\tpw\t10.0.0.1\t1") == kLoginAccepted;
      for (int r = 0; r < 50 && ok; ++r) {
        const auto reply = client.Ask("WHOIS\t" + login);
        ok = reply && reply->starts_with("Login : \t\t" + login + "%#");
      }
      ok = ok && client.Ask("LOGOUT\t" + login) == kLogoutAccepted;
      if (ok) ++good;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kClients);
}

TEST_F(RunningServerTest, AnnouncesThePlaylistAndTheTransferAddress) {
  GroupMember member("230.0.0.1", kAnnouncePort);
  runner_.SendPlaylist();
  EXPECT_EQ(member.Receive(), "PLAYLIST\n") << "an empty playlist is the word alone";

  Enqueue("a.mp3", "root");
  Enqueue("b.avi", "ann");
  runner_.SendPlaylist();
  const auto playlist = member.Receive();
  EXPECT_EQ(playlist, "PLAYLIST\ta.mp3\troot\tb.avi\tann\n");
  EXPECT_EQ(playlist.value_or("").size(), 30u);

  runner_.SendFCAST();
  const auto fcast = member.Receive();
  EXPECT_EQ(fcast, "FCAST\t230.0.0.2\t1711\n");
  EXPECT_EQ(fcast.value_or("").size(), 21u);
}

TEST_F(RunningServerTest, PlaylistAnnouncementStaysUnderAThousandBytes) {
  GroupMember member("230.0.0.1", kAnnouncePort);
  runner_.playlist().AddTail(CDocInfo(std::string(995, 'n'), "ann", "/p", "", 0, 0, ""));
  runner_.SendPlaylist();
  EXPECT_EQ(member.Receive(), "PLAYLIST\n") << "a single entry that does not fit is left out";

  while (runner_.playlist().GetCount() > 0) runner_.playlist().RemoveAt(0);
  // Pairs of 40 + 3 + 2 bytes: 21 fit in 9 + 21 * 45 = 954 bytes, the 22nd would make 999,
  // the 23rd 1044.
  for (int i = 0; i < 30; ++i) Enqueue(std::string(36, 'a') + std::to_string(1000 + i), "ann");
  runner_.SendPlaylist();
  const std::string datagram = member.Receive().value_or("");
  EXPECT_EQ(datagram.size(), 999u);
  MavoraProtocol protocol;
  const auto fields = protocol.extractParams(datagram.substr(0, datagram.size() - 1));
  EXPECT_EQ(fields.size(), 1u + 2 * 22);
  EXPECT_EQ(fields.back(), "ann");
}

TEST_F(RunningServerTest, HandOversMadeFasterThanSentCollapseToTheNewest) {
  GroupMember member("230.0.0.1", kAnnouncePort);
  std::vector<std::string> received;
  std::thread reader([&] {
    while (auto datagram = member.Receive(5000)) {
      received.push_back(*datagram);
      if (*datagram == "N\t1999\n") break;
    }
  });
  for (int i = 0; i < 2000; ++i) runner_.SendMULTICAST({"N", std::to_string(i)});
  reader.join();
  ASSERT_FALSE(received.empty());
  EXPECT_LE(received.size(), 2000u);
  EXPECT_EQ(received.back(), "N\t1999\n") << "the newest announcement is always sent";
  for (std::size_t i = 1; i < received.size(); ++i) {
    EXPECT_LT(std::stoi(received[i - 1].substr(2)), std::stoi(received[i].substr(2)));
  }
}

// The Fcast sender announces the next file right after the playlist shrank, and a LOGIN may
// announce the playlist right after an FCAST: neither may swallow the other.
TEST_F(RunningServerTest, AnnouncementsOfAnotherKindAreNeverSwallowed) {
  GroupMember member("230.0.0.1", kAnnouncePort);
  for (int i = 0; i < 20; ++i) {
    const std::string number = std::to_string(i);
    runner_.SendMULTICAST({"PLAYLIST", number});
    runner_.SendMULTICAST({"FCAST", number});
    std::vector<std::string> received;
    while (auto datagram = member.Receive()) {
      received.push_back(*datagram);
      if (*datagram == "FCAST\t" + number + "\n") break;
    }
    EXPECT_EQ(received, (std::vector<std::string>{"PLAYLIST\t" + number + "\n",
                                                  "FCAST\t" + number + "\n"}));
  }
}

TEST_F(RunningServerTest, StopClosesClientsAndStartBindsTheSamePortsAgain) {
  AddUser("ann", "pw");
  TestClient client(kTcpPort);
  ASSERT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  runner_.Close();
  EXPECT_FALSE(runner_.IsRunning());
  EXPECT_TRUE(client.ClosedByServer());
  EXPECT_FALSE(listener_.Saw(USER_OFFLINE, "ann")) << "a stop is not a logout";
  runner_.Close();  // a second stop does nothing

  runner_.Start(Settings());
  runner_.Start(Settings());  // already running: nothing happens
  GroupMember member("230.0.0.1", kAnnouncePort);
  AddUser("bob", "pw");
  TestClient again(kTcpPort);
  EXPECT_EQ(again.Ask("LOGIN\tbob\tpw\t10.0.0.1\t1"), kLoginAccepted);
  EXPECT_EQ(member.Receive(), "PLAYLIST\n");
}

TEST_F(RunningServerTest, AnnouncementsLeaveFromTheConfiguredInterface) {
  GroupMember member("230.0.0.1", kAnnouncePort);
  Ipv4Endpoint sender;
  runner_.SendPlaylist();
  ASSERT_EQ(member.Receive(5000, &sender), "PLAYLIST\n");
  EXPECT_NE(sender.AddressText(), "127.0.0.2");

  runner_.Close();
  ServerRunner::Settings settings = Settings();
  settings.multicastInterface = "127.0.0.2";  // the loopback's too, chosen only when asked for
  runner_.Start(settings);
  runner_.SendPlaylist();
  ASSERT_EQ(member.Receive(5000, &sender), "PLAYLIST\n");
  EXPECT_EQ(sender.AddressText(), "127.0.0.2");
}

TEST_F(RunningServerTest, KeyIsAnsweredBeforeALoginAndOnlyAlone) {
  runner_.Close();
  ServerRunner::Settings settings = Settings();
  settings.publicKeyText = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
  runner_.Start(settings);
  TestClient client(kTcpPort);
  EXPECT_EQ(client.Ask("KEY\tnow"), kWrongFieldCount);
  EXPECT_EQ(client.Ask("KEY"), "230\t11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=");
}

TEST_F(RunningServerTest, ASecondServerOnThePortsAnswersNobodyAndHarmsNothing) {
  UserDatabase otherUsers(dir_.File("other.dat"));
  DocumentDatabase otherDocuments(dir_.File("otherdocs.dat"));
  ServerRunner second(otherDocuments, otherUsers, [] { return std::shared_ptr<FcastSender>(); });
  std::vector<std::string> trace;
  Mutex traceMu;
  const OutputSink previous = SetTraceSink([&](std::string_view line) {
    MutexLock lock(traceMu);
    trace.emplace_back(line);
  });
  RecordingListener secondEvents;
  second.AddListener(&secondEvents);
  second.Start(Settings());
  const auto sawLine = [&](const std::string& wanted) {
    MutexLock lock(traceMu);
    return std::find(trace.begin(), trace.end(), wanted) != trace.end();
  };
  EXPECT_TRUE(WaitFor([&] { return sawLine("ERROR: CTCPRunner::InitTCP : bind() failed."); }));
  EXPECT_TRUE(WaitFor([&] { return sawLine("ERROR CMULTICASTRunner::InitMULTICAST : bind() failed."); }));
  // Not only in the trace: the operator's log says what does not work.
  EXPECT_TRUE(WaitFor([&] {
    return secondEvents.Saw(LOG_FAILURE, "TCP: port 1550 could not be opened (Address already "
                                         "in use); clients cannot connect");
  }));
  EXPECT_TRUE(WaitFor([&] {
    return secondEvents.Saw(LOG_FAILURE, "MULTICAST: port 2001 could not be opened (Address "
                                         "already in use); nothing will be announced");
  }));
  second.Close();
  SetTraceSink(previous);

  AddUser("ann", "pw");
  TestClient client(kTcpPort);
  EXPECT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
}

// The descriptor of the socket listening on |port| in this process.
int FindListeningSocket(uint16_t port) {
  DIR* fds = ::opendir("/proc/self/fd");
  int found = -1;
  while (dirent* entry = ::readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    const std::optional<Ipv4Endpoint> address = Ipv4Endpoint::LocalOf(fd);
    int listening = 0;
    socklen_t optionLength = sizeof listening;
    if (address && address->Port() == port &&
        ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optionLength) == 0 && listening) {
      found = fd;
    }
  }
  ::closedir(fds);
  return found;
}

TEST_F(RunningServerTest, AcceptFailureStopsTheWholeServerOnce) {
  AddUser("ann", "pw");
  TestClient client(kTcpPort);
  ASSERT_EQ(client.Ask("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  std::atomic<int> closes{0};
  const OutputSink previous = SetTraceSink([&](std::string_view line) {
    if (line == "ServerRunner::Close() [ENTER]") ++closes;
  });
  const int listening = FindListeningSocket(kTcpPort);
  ASSERT_GE(listening, 0);
  ::shutdown(listening, SHUT_RDWR);  // accept fails while nobody is stopping the server
  EXPECT_TRUE(WaitFor([&] { return !runner_.IsRunning(); }));
  EXPECT_TRUE(client.ClosedByServer());
  runner_.Close();
  SetTraceSink(previous);
  EXPECT_EQ(closes.load(), 1);

  runner_.Start(Settings());
  TestClient again(kTcpPort);
  EXPECT_EQ(again.Ask("WHOIS\tann").has_value(), true);
}

}  // namespace
}  // namespace ondavox::test
