#pragma once

#include <chrono>

#include "platform/Mutex.h"

namespace ondavox {

// A wake-up signal whose count is 0 or 1: Signal() while one is already pending has no
// effect, and each wait consumes the pending signal. It stands in for a named semaphore that
// one thread releases to wake another. Any thread.
class WakeUp {
 public:
  void Signal() EXCLUDES(mu_);
  // Blocks until a signal is pending, then takes it.
  void Wait() EXCLUDES(mu_);
  // Takes a pending signal or waits up to |timeout| for one; false when none came.
  bool WaitFor(std::chrono::milliseconds timeout) EXCLUDES(mu_);
  // Takes a pending signal without waiting; false when none was pending.
  bool TryTake() EXCLUDES(mu_);

 private:
  Mutex mu_;
  CondVar cv_;
  bool pending_ GUARDED_BY(mu_) = false;
};

}  // namespace ondavox
