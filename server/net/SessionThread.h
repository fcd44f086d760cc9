#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace ondavox::server {

// A joinable thread with a stack of a chosen size, which std::thread cannot set: the server
// runs one per connection, and the default stack (8 MiB of address space, its touched pages
// kept) is far more than a session needs.
//
// Owned by the object whose work it runs; Start and Join from the owner's thread (any one
// thread at a time). The thread is created through a replaceable function, so tests can make
// its creation fail as a task limit would.
class SessionThread {
 public:
  // pthread_create's signature.
  using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

  // A session's stack: its reads, one request's handling and the trace, with room to spare;
  // sanitizers multiply what each frame takes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  static constexpr std::size_t kStackBytes = 1024 * 1024;
#else
  static constexpr std::size_t kStackBytes = 256 * 1024;
#endif

  SessionThread() = default;
  ~SessionThread();  // Join()
  SessionThread(const SessionThread&) = delete;
  SessionThread& operator=(const SessionThread&) = delete;

  // Runs |body| on a new thread created by |create|; returns 0, or the error number when the
  // thread could not be created (nothing runs then). At most once per object.
  int Start(std::function<void()> body, CreateFn create = &::pthread_create);
  // Waits for the thread to end; nothing when it never started or was joined already.
  void Join();
  bool Joinable() const { return started_; }

 private:
  static void* Trampoline(void* self);

  std::function<void()> body_;
  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace ondavox::server
