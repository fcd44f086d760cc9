#include "platform/WakeUp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/ThreadGuard.h"

namespace ondavox {
namespace {

using test::ThreadGuard;

using namespace std::chrono_literals;

TEST(WakeUp, CountIsZeroOrOne) {
  WakeUp wake;
  EXPECT_FALSE(wake.TryTake());
  wake.Signal();
  wake.Signal();
  wake.Signal();
  EXPECT_TRUE(wake.TryTake());
  EXPECT_FALSE(wake.TryTake()) << "several signals before a wait count as one";
  EXPECT_FALSE(wake.WaitFor(10ms));
  wake.Signal();
  EXPECT_TRUE(wake.WaitFor(10ms));
}

TEST(WakeUp, WakesAWaitingThreadOncePerSignal) {
  WakeUp wake;
  WakeUp done;
  std::atomic<int> wakes{0};
  std::atomic<bool> stop{false};
  std::thread waiter([&] {
    for (int i = 0; i < 100; ++i) {
      wake.Wait();
      if (stop) return;
      ++wakes;
      done.Signal();
    }
  });
  ThreadGuard guard(waiter, [&] {
    stop = true;
    wake.Signal();
  });
  for (int i = 0; i < 100; ++i) {
    wake.Signal();
    ASSERT_TRUE(done.WaitFor(5s));
  }
  waiter.join();
  EXPECT_EQ(wakes.load(), 100);
}

}  // namespace
}  // namespace ondavox
