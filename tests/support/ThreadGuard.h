#pragma once

#include <functional>
#include <thread>
#include <utility>

namespace ondavox::test {

// Joins a test's helper thread when the scope ends, after running |unblock| so that a thread
// still waiting can finish. A failed ASSERT in the test body returns early; without the guard
// the joinable thread would end the whole test program instead of failing the one test.
class ThreadGuard {
 public:
  explicit ThreadGuard(std::thread& thread, std::function<void()> unblock = {})
      : thread_(thread), unblock_(std::move(unblock)) {}
  ~ThreadGuard() {
    if (unblock_) unblock_();
    if (thread_.joinable()) thread_.join();
  }
  ThreadGuard(const ThreadGuard&) = delete;
  ThreadGuard& operator=(const ThreadGuard&) = delete;

 private:
  std::thread& thread_;
  std::function<void()> unblock_;
};

}  // namespace ondavox::test
