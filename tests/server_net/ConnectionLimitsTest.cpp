#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/ReplyCodes.h"
#include "server/net/ServerRunner.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

// While set, connection threads cannot be created, as under a task limit.
std::atomic<bool> gNoThreads{false};

int CreateUnlessForbidden(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                          void* argument) {
  if (gNoThreads.load()) return EAGAIN;
  return ::pthread_create(thread, attributes, body, argument);
}

class ConnectionLimitsTest : public ServerFixture {
 protected:
  void Start(int32_t maxConnections, int32_t maxUnauthenticated, int32_t loginTimeout) {
    ServerRunner::Settings settings;
    settings.multicastPort = 2002;  // the announcer's own port stays free
    settings.maxConnections = maxConnections;
    settings.maxUnauthenticated = maxUnauthenticated;
    settings.loginTimeoutSeconds = loginTimeout;
    settings.threadCreate = &CreateUnlessForbidden;
    runner_.Start(settings);
  }

  // A client logged in as |login| (registered here).
  std::unique_ptr<TestClient> LoggedIn(const std::string& login) {
    AddUser(login, "pw");
    auto client = std::make_unique<TestClient>(kTcpPort);
    EXPECT_EQ(client->Ask("LOGIN\t" + login + "\tpw\t10.0.0.1\t1"), kLoginAccepted);
    return client;
  }

  static bool Answers(TestClient& client, const std::string& login) {
    return client.Ask("WHOIS\t" + login).value_or("").starts_with("Login : \t\t" + login + "%#");
  }
};

TEST_F(ConnectionLimitsTest, AConnectionWithoutAThreadIsClosedAndTheServerGoesOn) {
  Start(0, 0, 0);
  auto ann = LoggedIn("ann");
  gNoThreads = true;
  for (int i = 0; i < 3; ++i) {
    TestClient refused(kTcpPort);
    ASSERT_TRUE(refused.Connected());
    EXPECT_TRUE(refused.ClosedByServer());
  }
  gNoThreads = false;
  EXPECT_TRUE(WaitFor([&] {
    return listener_.Saw(LOG_FAILURE,
                         "TCP: a connection could not get a thread (Resource temporarily "
                         "unavailable); it was closed");
  }));
  EXPECT_TRUE(runner_.IsRunning());
  EXPECT_TRUE(Answers(*ann, "ann"));
  TestClient later(kTcpPort);
  EXPECT_EQ(later.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t1"), kRegistered);
  EXPECT_TRUE(Answers(later, "bob"));
}

TEST_F(ConnectionLimitsTest, SilentConnectionsMakeRoomAndLoggedInOnesKeepTheirs) {
  Start(4, 2, 30);
  auto ann = LoggedIn("ann");
  TestClient first(kTcpPort);
  TestClient second(kTcpPort);
  TestClient third(kTcpPort);  // the third without a login closes the oldest
  EXPECT_TRUE(first.ClosedByServer());
  EXPECT_TRUE(WaitFor([&] {
    return listener_.Saw(LOG_INFO,
                         "TCP: too many connections without a login (at most 2 "
                         "of 4); the oldest ones are closed to make room");
  }));

  TestClient newcomer(kTcpPort);
  EXPECT_TRUE(second.ClosedByServer());
  EXPECT_EQ(newcomer.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t1"), kRegistered);
  EXPECT_TRUE(Answers(newcomer, "bob"));
  EXPECT_TRUE(Answers(*ann, "ann"));

  // ann, bob, third and dave fill the four places; the next one takes the place of third.
  auto dave = LoggedIn("dave");
  auto eve = LoggedIn("eve");
  EXPECT_TRUE(third.ClosedByServer());
  // Four logged in: nobody can be closed for a fifth.
  TestClient fifth(kTcpPort);
  EXPECT_TRUE(fifth.ClosedByServer());
  EXPECT_TRUE(WaitFor([&] {
    return listener_.Saw(LOG_FAILURE, "TCP: 4 clients are logged in; new connections are closed");
  }));
  for (auto* client : {ann.get(), &newcomer, dave.get(), eve.get()}) {
    EXPECT_TRUE(client->Ask("WHOIS\tann").has_value());
  }
  EXPECT_EQ(User("bob")->online(), 1);
}

TEST_F(ConnectionLimitsTest, ASilentConnectionIsClosedAfterTheLoginTimeLimit) {
  Start(0, 0, 1);
  auto ann = LoggedIn("ann");
  const auto start = std::chrono::steady_clock::now();
  TestClient silent(kTcpPort);
  EXPECT_TRUE(silent.ClosedByServer());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  // ann has been idle longer than the limit and is still served.
  EXPECT_TRUE(Answers(*ann, "ann"));
  EXPECT_EQ(User("ann")->online(), 1);
}

}  // namespace
}  // namespace ondavox::test
