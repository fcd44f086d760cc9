#include "client/core/WorkerThread.h"

#include <cassert>

namespace ondavox::client {
namespace {

// The worker whose body runs on the calling thread, if any.
thread_local const WorkerThread* tCurrentWorker = nullptr;

}  // namespace

WorkerThread::~WorkerThread() { assert(!thread_.joinable()); }

void WorkerThread::Start() {
  assert(!thread_.joinable());
  thread_ = std::thread([this] { Body(); });
}

void WorkerThread::Join() {
  assert(!OnItsThread());
  if (thread_.joinable()) thread_.join();
}

bool WorkerThread::OnItsThread() const { return tCurrentWorker == this; }

void WorkerThread::Body() {
  tCurrentWorker = this;
  if (InitInstance()) Run();
  ExitInstance();
  tCurrentWorker = nullptr;
}

}  // namespace ondavox::client
