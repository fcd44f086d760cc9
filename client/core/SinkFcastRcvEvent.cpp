#include "client/core/SinkFcastRcvEvent.h"

#include <cstdarg>
#include <cstdio>

#include "client/core/ClientLog.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

// A formatted debug line, cut to 255 characters as the receiver's line buffer holds 256 bytes.
void DebugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugLine(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  DebugOut(std::string(line) + "\n");
}

}  // namespace

SinkFcastRcvEvent::SinkFcastRcvEvent(std::shared_ptr<FcastReceiverObject> receiver,
                                     FileHandler onFile)
    : receiver_(std::move(receiver)), onFile_(std::move(onFile)) {}

SinkFcastRcvEvent::~SinkFcastRcvEvent() {
  std::thread thread;
  {
    MutexLock lock(mu_);
    stop_ = true;
    thread = std::move(thread_);
  }
  cv_.NotifyAll();
  if (thread.joinable()) thread.join();
}

void SinkFcastRcvEvent::Resume() {
  {
    MutexLock lock(mu_);
    if (stop_) return;
    runRequested_ = true;
    if (!thread_.joinable()) thread_ = std::thread([this] { ThreadMain(); });
  }
  cv_.NotifyAll();
}

bool SinkFcastRcvEvent::Running() {
  MutexLock lock(mu_);
  return looping_ || runRequested_;
}

bool SinkFcastRcvEvent::Stopping() {
  MutexLock lock(mu_);
  return stop_;
}

void SinkFcastRcvEvent::ThreadMain() {
  for (;;) {
    {
      MutexLock lock(mu_);
      cv_.Wait(mu_, [this]() REQUIRES(mu_) { return runRequested_ || stop_; });
      if (stop_) return;
      runRequested_ = false;
      looping_ = true;
    }
    EventLoop();
    MutexLock lock(mu_);
    looping_ = false;
  }
}

void SinkFcastRcvEvent::EventLoop() {
  DebugOut("Enter event thread\n");
  while (!Stopping()) {
    long code = 0, error = 0, fileId = 0, size = 0;
    std::string name;
    short unused = 0;
    const long result =
        receiver_->GetEvent(kEventWaitMs, &code, &error, &fileId, &size, &name, &unused);
    // A quiet moment is no reason to stop listening: a transfer may start at any time.
    if (result == kFcastTimeout) continue;
    if (result != kFcastOk) {
      DebugOut("Leaving event thread\n");
      return;
    }
    if (!HandleEvent(code, error, fileId, size, name)) return;
  }
}

bool SinkFcastRcvEvent::HandleEvent(long code, long error, long fileId, long size,
                                    const std::string& name) {
  switch (code) {
    case FCASTRE_INVALID:
      DebugOut("FCASTRE_INVALID\n");
      return false;
    case FCASTRE_FILE_START:
      DebugLine("File started, Id=%ld size=%ld", fileId, size);
      DebugOut("FCASTRE_FILE_START\n");
      return true;
    case FCASTRE_FILE_COMPLETE:
      onFile_(fileId, name, size);
      DebugOut("FCASTRE_FILE_COMPLETE\n");
      return true;
    case FCASTRE_COMPLETE:
      DebugOut("Done - file received successfully\n");
      DebugOut("FCASTRE_COMPLETE\n");
      return true;
    case FCASTRE_SESSION:
      DebugOut("FCASTRE_SESSION\n");
      return false;
    case FCASTRE_TERMINATION:
      DebugOut("FCASTRE_TERMINATION\n");
      return false;
    case FCASTRE_CONTINUE:
      DebugOut("FCASTRE_CONTINUE\n");
      return true;
    case FCASTRE_FILE_REPLACED:
      AppendLog("Kept the previous " + name + " as " + name + "~", "FCAST");
      return true;
    case FCASTRE_ERROR:
      DebugLine("Error %ld", error);
      DebugOut("FCASTRE_ERROR\n");
      if (error == kFcastErrorUnauthenticated) {
        AppendLog("Refused " + name + ": not signed by the server's key", "FCAST");
      } else if (error == kFcastErrorStraySource) {
        AppendLog("Datagrams from " + name + " dropped: not the server", "FCAST");
      }
      return true;
    case FCASTRE_FATAL_ERROR:
      DebugLine("FatalError %ld", error);
      DebugOut("FCASTRE_FATAL_ERROR\n");
      return false;
    default:
      return true;
  }
}

}  // namespace ondavox::client
