#include "fcast/engine/BackgroundHash.h"

#include "fcast/engine/Sha256.h"

namespace ondavox::fcast {

BackgroundHash::BackgroundHash(int fd, std::uint64_t size)
    : thread_(&BackgroundHash::Run, this, fd, size) {}

BackgroundHash::~BackgroundHash() {
  Stop();
  thread_.join();
}

std::optional<Sha256Digest> BackgroundHash::Wait() {
  MutexLock lock(mu_);
  changed_.Wait(mu_, [this] { return done_.load() || stop_.load(); });
  if (!done_.load()) return std::nullopt;
  return digest_;
}

void BackgroundHash::Stop() {
  {
    MutexLock lock(mu_);
    stop_ = true;
  }
  changed_.NotifyAll();
}

void BackgroundHash::Run(int fd, std::uint64_t size) {
  std::optional<Sha256Digest> digest = HashFile(fd, size, &stop_);
  {
    MutexLock lock(mu_);
    digest_ = digest;
    done_.store(true, std::memory_order_release);
  }
  changed_.NotifyAll();
}

}  // namespace ondavox::fcast
