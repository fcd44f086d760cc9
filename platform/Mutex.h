#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/ThreadAnnotations.h"

namespace ondavox {

// A std::mutex that the thread-safety analysis knows about, so members can be GUARDED_BY it.
// Not recursive. Any thread.
class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mu_.lock(); }
  void Unlock() RELEASE() { mu_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mu_.try_lock(); }

  // BasicLockable, for std::condition_variable_any.
  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }

 private:
  std::mutex mu_;
};

// Holds a Mutex for the lifetime of the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.Lock(); }
  ~MutexLock() RELEASE() { mu_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

// Condition variable for Mutex. Wait() must be called with the mutex held.
class CondVar {
 public:
  template <class Predicate>
  void Wait(Mutex& mu, Predicate done) REQUIRES(mu) NO_THREAD_SAFETY_ANALYSIS {
    cv_.wait(mu, done);
  }
  // Returns the predicate's value when the wait ended.
  template <class Rep, class Period, class Predicate>
  bool WaitFor(Mutex& mu, std::chrono::duration<Rep, Period> timeout, Predicate done)
      REQUIRES(mu) NO_THREAD_SAFETY_ANALYSIS {
    return cv_.wait_for(mu, timeout, done);
  }
  void NotifyOne() { cv_.notify_one(); }
  void NotifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable_any cv_;
};

}  // namespace ondavox
