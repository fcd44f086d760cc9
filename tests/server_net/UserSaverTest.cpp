// REGISTER answered once the user database is on disk: failed saves refuse the registrations
// they held and leave the last good file, concurrent registrations share saves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/ReplyCodes.h"
#include "platform/AtomicFile.h"
#include "server/data/ServerEvent.h"
#include "server/net/UserSaver.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

class UserSaverTest : public ServerFixture {
 protected:
  std::string Register(const std::string& login) {
    std::string connectionLogin;
    return runner_.protocol().invoke("REGISTER\t" + login + "\tpw\tAnn\tSmith\t10.0.0.7\t4000",
                                     connectionLogin);
  }
  // Registers every login at once, one thread each; the replies in the same order.
  std::vector<std::string> RegisterTogether(const std::vector<std::string>& logins) {
    std::vector<std::string> replies(logins.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < logins.size(); ++i) {
      threads.emplace_back([&, i] { replies[i] = Register(logins[i]); });
    }
    for (std::thread& thread : threads) thread.join();
    return replies;
  }
  std::string File() { return ReadFile(dir_.File("UserDB.dat")); }
};

TEST_F(UserSaverTest, AFailedSaveRefusesItsRegistrationsAndKeepsTheLastGoodFile) {
  ASSERT_EQ(Register("ann"), kRegistered);
  const std::string lastGood = File();

  // The disk is full: every write fails the way WriteFileAtomically reports it. The write
  // waits a little so that the registrations gather into the same failing saves.
  runner_.userSaver().SetWriteForTesting([](const std::string& path, std::string_view) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return PosixError("cannot write " + path, ENOSPC);
  });
  listener_.Clear();
  const std::vector<std::string> refused = {"bob", "carl", "dave", "eve", "fred", "gus"};
  for (const std::string& reply : RegisterTogether(refused)) EXPECT_EQ(reply, kRegisterRefused);
  EXPECT_EQ(File(), lastGood);
  for (const std::string& login : refused) EXPECT_FALSE(User(login)) << login << " was kept";
  const std::string failure =
      "cannot write " + dir_.File("UserDB.dat") + ": No space left on device";
  const std::vector<std::pair<int, std::string>> failures(refused.size(), {LOG_FAILURE, failure});
  EXPECT_EQ(listener_.Events(), failures);

  // Space again: the next save writes the users kept, without the refused ones, which may
  // register again.
  runner_.userSaver().SetWriteForTesting(&UserSaver::WriteToDisk);
  ASSERT_EQ(::chmod(dir_.File("UserDB.dat").c_str(), 0644), 0);  // as an older server left it
  ASSERT_EQ(Register("hal"), kRegistered);
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("UserDB.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U) << "the passwords' file is tightened at its next save";
  UserDatabase stored(dir_.File("UserDB.dat"));
  ASSERT_TRUE(stored.Load().ok());
  EXPECT_EQ(stored.GetCount(), 2u);
  EXPECT_NE(stored.Find("ann"), nullptr);
  EXPECT_NE(stored.Find("hal"), nullptr);
  EXPECT_EQ(Register("bob"), kRegistered);
}

TEST_F(UserSaverTest, NoLoginIntoARegistrationWhoseSaveIsUnderWay) {
  std::promise<void> writing;
  std::promise<void> release;
  runner_.userSaver().SetWriteForTesting(
      [&, gate = release.get_future().share()](const std::string& path, std::string_view) {
        writing.set_value();
        gate.wait();
        return PosixError("cannot write " + path, ENOSPC);
      });
  std::string reply;
  std::thread registering([&] { reply = Register("ann"); });
  writing.get_future().wait();
  EXPECT_TRUE(User("ann")) << "the user is in memory while its save runs";
  std::string connectionLogin;
  EXPECT_EQ(runner_.protocol().invoke("LOGIN\tann\tpw\t10.0.0.1\t1", connectionLogin),
            kLoginRefused);
  release.set_value();
  registering.join();
  EXPECT_EQ(reply, kRegisterRefused);
  EXPECT_FALSE(User("ann"));
}

TEST_F(UserSaverTest, ConcurrentRegistrationsShareSavesAndAllReachTheFile) {
  // A disk that takes a few milliseconds per save, as a real one with fsync does.
  runner_.userSaver().SetWriteForTesting([](const std::string& path, std::string_view bytes) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    return WriteFileAtomically(path, bytes);
  });
  constexpr int kThreads = 8;
  constexpr int kEach = 20;
  std::vector<std::thread> threads;
  std::vector<int> registered(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (Register("u" + std::to_string(t) + "_" + std::to_string(i)) == kRegistered) {
          ++registered[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(registered[t], kEach);
  EXPECT_LT(runner_.userSaver().SaveCount(), static_cast<uint64_t>(kThreads * kEach));

  UserDatabase stored(dir_.File("UserDB.dat"));
  ASSERT_TRUE(stored.Load().ok());
  EXPECT_EQ(stored.GetCount(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
}  // namespace ondavox::test
