#include "platform/WakeUp.h"

namespace ondavox {

void WakeUp::Signal() {
  {
    MutexLock lock(mu_);
    pending_ = true;
  }
  cv_.NotifyOne();
}

void WakeUp::Wait() {
  MutexLock lock(mu_);
  cv_.Wait(mu_, [this]() REQUIRES(mu_) { return pending_; });
  pending_ = false;
}

bool WakeUp::WaitFor(std::chrono::milliseconds timeout) {
  MutexLock lock(mu_);
  if (!cv_.WaitFor(mu_, timeout, [this]() REQUIRES(mu_) { return pending_; })) return false;
  pending_ = false;
  return true;
}

bool WakeUp::TryTake() {
  MutexLock lock(mu_);
  const bool was = pending_;
  pending_ = false;
  return was;
}

}  // namespace ondavox
