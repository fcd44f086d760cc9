#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/data/UserDatabase.h"
#include "tests/support/TempDir.h"

namespace ondavox::server {
namespace {

using test::ReadFile;
using test::TempDir;

std::unique_ptr<CUserInfo> User(const std::string& login, int32_t online = 0) {
  return std::make_unique<CUserInfo>(login, "secret", "Name", "Lastname", 0, online,
                                     "192.168.10.23", 1550);
}

// Threads add, find, change and remove users under the server data lock while others walk
// the list and save. Finds, walks and saves hold the lock shared, so they run at the same
// time as each other: under ThreadSanitizer this shows that they share no hidden state (such
// as a walking cursor).
TEST(UserDatabaseStress, ThreadsAddFindRemoveWhileOthersWalk) {
  TempDir dir;
  UserDatabase db(dir.File("UserDB.dat"));
  std::shared_mutex dataLock;
  constexpr int kWriters = 4;
  constexpr int kRounds = 1000;
  // Readers run a bounded number of times and pause outside the lock now and then, so the
  // writers are never starved for good by a lock that prefers readers.
  constexpr int kFinds = 20000;
  constexpr int kWalks = 100;
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(100)); };

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        const std::string login = "w" + std::to_string(w) + "-" + std::to_string(i);
        {
          std::unique_lock lock(dataLock);
          auto user = User(login);
          ASSERT_TRUE(db.Add(user));
        }
        {
          std::unique_lock lock(dataLock);
          CUserInfo* user = db.Find(login);
          ASSERT_NE(user, nullptr);
          user->SetOnline(1);
          user->SetPort(i);
        }
        if (i % 2 == 0) {
          std::unique_lock lock(dataLock);
          ASSERT_TRUE(db.Remove(login));
        }
      }
    });
  }
  for (int f = 0; f < 2; ++f) {
    threads.emplace_back([&] {
      std::mt19937 rng(7);
      for (int n = 0; n < kFinds; ++n) {
        const std::string login =
            "w" + std::to_string(rng() % kWriters) + "-" + std::to_string(rng() % kRounds);
        {
          std::shared_lock lock(dataLock);
          if (const CUserInfo* user = db.Find(login)) {
            EXPECT_EQ(user->login(), login);
          }
        }
        if (n % 64 == 0) pause();
      }
    });
  }
  // Two walkers, so that walks also overlap each other; one of them saves now and then.
  for (int saves : {0, 5}) {
    threads.emplace_back([&, saves]() mutable {
      for (int n = 0; n < kWalks; ++n) {
        {
          std::shared_lock lock(dataLock);
          std::vector<std::string> online;
          db.ListLoginsByStatus(online, 1);
          std::vector<std::string> offline;
          db.ListLoginsByStatus(offline, 0);
          EXPECT_EQ(online.size() + offline.size(), db.GetCount());
          if (saves > 0) {
            EXPECT_TRUE(db.Save().ok());
            --saves;
          }
        }
        pause();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(db.GetCount(), static_cast<std::size_t>(kWriters * kRounds / 2));
  std::vector<std::string> online;
  db.ListLoginsByStatus(online, 1);
  EXPECT_EQ(online.size(), db.GetCount());
}

// A child saves a large database in a loop, alternating two contents, and is killed at random
// moments: whenever it died, the file loads and holds exactly one of the two contents.
TEST(UserDatabaseStress, KillDuringSaveLeavesOldOrNewContent) {
  TempDir dir;
  const std::string path = dir.File("UserDB.dat");
  constexpr int kUsers = 3000;
  UserDatabase first(path);
  UserDatabase second(path);
  for (int i = 0; i < kUsers; ++i) {
    auto a = User("user" + std::to_string(i));
    ASSERT_TRUE(first.Add(a));
    auto b = User("other" + std::to_string(i), 1);
    ASSERT_TRUE(second.Add(b));
  }
  ASSERT_TRUE(second.Save().ok());
  const std::string secondBytes = ReadFile(path);
  // A save is timed in a forked child, as the children below save: a child can be several
  // times slower than its parent (copy-on-write faults, dearer under a sanitizer).
  std::int64_t saveMicros = 0;
  {
    int timed[2];
    ASSERT_EQ(::pipe(timed), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const auto begun = std::chrono::steady_clock::now();
      const bool saved = second.Save().ok();
      const std::int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - begun)
                                      .count();
      ::_exit(saved && ::write(timed[1], &micros, sizeof micros) == sizeof micros ? 0 : 3);
    }
    ::close(timed[1]);
    ASSERT_EQ(::read(timed[0], &saveMicros, sizeof saveMicros), sizeof saveMicros);
    ::close(timed[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
  }
  ASSERT_TRUE(first.Save().ok());
  const std::string firstBytes = ReadFile(path);
  ASSERT_NE(firstBytes, secondBytes);

  std::mt19937_64 rng(20261207);
  const std::chrono::microseconds maxDelay(saveMicros * 3);
  int sawFirst = 0;
  int sawSecond = 0;
  for (int kill = 0; kill < 200; ++kill) {
    // The delay runs from the child's first save, not from the fork: a child can take longer to
    // get going than a save takes, and would otherwise be killed before it saved anything.
    int going[2];
    ASSERT_EQ(::pipe(going), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::write(going[1], "s", 1) != 1) ::_exit(4);
      // Bounded even if the parent never kills it.
      for (int i = 0; i < 1000; ++i) {
        if (!(i % 2 == 0 ? second : first).Save().ok()) ::_exit(3);
      }
      ::_exit(0);
    }
    ::close(going[1]);
    char byte = 0;
    ASSERT_EQ(::read(going[0], &byte, 1), 1);
    ::close(going[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (maxDelay.count() + 1)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;

    // Either content loads (checked below), so comparing the bytes is enough here.
    const std::string bytes = ReadFile(path);
    const bool isFirst = bytes == firstBytes;
    ASSERT_TRUE(isFirst || bytes == secondBytes) << "after kill " << kill;
    (isFirst ? sawFirst : sawSecond)++;
    // A killed save leaves its temporary file behind; keep the folder small.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.path() != path) std::filesystem::remove(entry.path());
    }
  }
  std::printf("save time %lld us, old content %d times, new content %d times\n",
              static_cast<long long>(saveMicros), sawFirst, sawSecond);
  for (const std::string& bytes : {firstBytes, secondBytes}) {
    test::WriteFile(path, bytes);
    UserDatabase loaded(path);
    ASSERT_TRUE(loaded.Load().ok());
    EXPECT_EQ(loaded.GetCount(), static_cast<std::size_t>(kUsers));
  }
  // Both outcomes happened, so kills did land during saves.
  EXPECT_GT(sawFirst, 0);
  EXPECT_GT(sawSecond, 0);
}

}  // namespace
}  // namespace ondavox::server
