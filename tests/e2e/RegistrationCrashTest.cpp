// ondavoxd killed (SIGKILL) at random moments of a registration storm, again and again in one
// folder: after each kill, every registration that was answered 204 is in the user database
// that the next start loads.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/ReplyCodes.h"
#include "server/data/UserDatabase.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

constexpr int kRounds = 50;
constexpr int kConnections = 6;

TEST(RegistrationCrash, EveryRegistrationAnswered204SurvivesASigkill) {
  TempDir dir;
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> killAfterMs(20, 200);
  std::size_t answered = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::vector<std::string>> registered(kConnections);
    std::atomic<int> connected{0};
    {
      ChildProcess server({ONDAVOXD}, dir.path(), dir.path() / "stdout.txt", {},
                          dir.path() / "stderr.txt");
      std::vector<std::thread> clients;
      for (int c = 0; c < kConnections; ++c) {
        clients.emplace_back([&, c] {
          TestClient client(1550);  // retries while the server starts
          if (!client.Connected()) return;
          ++connected;
          for (int i = 0;; ++i) {
            const std::string login =
                "r" + std::to_string(round) + "c" + std::to_string(c) + "n" + std::to_string(i);
            const auto reply = client.Ask("REGISTER\t" + login + "\tpw\tAnn\tSmith\t10.0.0.2\t1");
            if (!reply) return;  // the server is gone
            if (*reply == kRegistered) registered[c].push_back(login);
          }
        });
      }
      ASSERT_TRUE(WaitFor([&] { return connected.load() == kConnections; }))
          << "round " << round << ": " << ReadFile(dir.path() / "stderr.txt");
      std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
      server.Signal(SIGKILL);
      server.Wait();
      for (std::thread& client : clients) client.join();
    }

    UserDatabase users(dir.File("UserDB.dat"));
    ASSERT_TRUE(users.Load().ok()) << "round " << round;
    for (const auto& logins : registered) {
      for (const std::string& login : logins) {
        ASSERT_NE(users.Find(login), nullptr) << "round " << round << ": " << login << " lost";
      }
      answered += logins.size();
    }
  }
  // The storms did register: the kills did not all come before the first answer.
  EXPECT_GT(answered, static_cast<std::size_t>(kRounds));
}

}  // namespace
}  // namespace ondavox::test
