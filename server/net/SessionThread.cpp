#include "server/net/SessionThread.h"

#include <utility>

namespace ondavox::server {

SessionThread::~SessionThread() { Join(); }

int SessionThread::Start(std::function<void()> body, CreateFn create) {
  body_ = std::move(body);
  pthread_attr_t attributes;
  int error = ::pthread_attr_init(&attributes);
  if (error != 0) return error;
  error = ::pthread_attr_setstacksize(&attributes, kStackBytes);
  if (error == 0) error = create(&thread_, &attributes, &SessionThread::Trampoline, this);
  ::pthread_attr_destroy(&attributes);
  started_ = error == 0;
  return error;
}

void SessionThread::Join() {
  if (!started_) return;
  ::pthread_join(thread_, nullptr);
  started_ = false;
}

void* SessionThread::Trampoline(void* self) {
  static_cast<SessionThread*>(self)->body_();
  return nullptr;
}

}  // namespace ondavox::server
