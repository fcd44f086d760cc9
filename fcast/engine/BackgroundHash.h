#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Sha256Digest.h"
#include "platform/Mutex.h"

namespace ondavox::fcast {

// The digest (FileDigest) of a file being sent, computed on a thread of its own so that a large file's
// hash does not hold back its first datagrams. Owns that thread; the sending thread asks for
// the digest, and Stop, from any thread, ends both the hash and a wait for it.
class BackgroundHash {
 public:
  // Starts hashing |fd| cut as |layout|; the file must stay open until destruction.
  BackgroundHash(int fd, const FileLayout& layout);
  // Stops the hash and joins its thread.
  ~BackgroundHash();
  BackgroundHash(const BackgroundHash&) = delete;
  BackgroundHash& operator=(const BackgroundHash&) = delete;

  // True once the hash has ended, with or without a digest; never blocks. Any thread.
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Blocks until the hash has ended or Stop(); the digest, nothing when a read failed or the
  // hash was stopped first. Any thread.
  std::optional<Sha256Digest> Wait() EXCLUDES(mu_);
  // Ends the hash and wakes Wait. Any thread.
  void Stop() EXCLUDES(mu_);

 private:
  void Run(int fd, FileLayout layout) EXCLUDES(mu_);

  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  Mutex mu_;
  CondVar changed_;
  std::optional<Sha256Digest> digest_ GUARDED_BY(mu_);
  std::thread thread_;  // declared last: starts once the members above exist
};

}  // namespace ondavox::fcast
