#include "fcast/engine/BackgroundHash.h"

#include "fcast/engine/FileDigest.h"

namespace ondavox::fcast {

BackgroundHash::BackgroundHash(int fd, const FileLayout& layout)
    : thread_(&BackgroundHash::Run, this, fd, layout) {}

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

void BackgroundHash::Run(int fd, FileLayout layout) {
  std::optional<Sha256Digest> digest = DigestFile(fd, layout, &stop_);
  {
    MutexLock lock(mu_);
    digest_ = digest;
    done_.store(true, std::memory_order_release);
  }
  changed_.NotifyAll();
}

}  // namespace ondavox::fcast
