#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/FcastComponent.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The event thread of the Fcast receiver: takes the receiver object's events one after the
// other and acts on each code (debug lines; completed files go to the owner's handler; a file
// refused for its signature, datagrams from a stray address and a replaced file are logged with
// tag "FCAST").
//
// Each Resume() makes the event loop run: at once when it is idle, or once more after it ends
// when it runs already (the receiver may have been started again for a new transfer). The loop
// waits for events as long as a reception may come, and ends at a terminal event
// (FCASTRE_INVALID, FCASTRE_SESSION, FCASTRE_TERMINATION, FCASTRE_FATAL_ERROR) or a failed wait.
// The thread is made at the first Resume and ends when the object is destroyed.
//
// Owned by FcastReceiver. Resume: any thread; the handler runs on the event thread.
class SinkFcastRcvEvent {
 public:
  using FileHandler = std::function<void(long fileId, const std::string& name, long size)>;

  // How long one wait for an event lasts; the thread notices that it must end between waits.
  static constexpr long kEventWaitMs = 1000;

  // |receiver| is the component's receiver object (not null); |onFile| handles each completed
  // file.
  SinkFcastRcvEvent(std::shared_ptr<FcastReceiverObject> receiver, FileHandler onFile);
  ~SinkFcastRcvEvent();
  SinkFcastRcvEvent(const SinkFcastRcvEvent&) = delete;
  SinkFcastRcvEvent& operator=(const SinkFcastRcvEvent&) = delete;

  void Resume() EXCLUDES(mu_);
  // True while the event loop runs or is about to run (after a Resume).
  bool Running() EXCLUDES(mu_);

  // Acts on one event; false when the event ends the loop. Event thread (public for tests).
  bool HandleEvent(long code, long error, long fileId, long size, const std::string& name);

 private:
  void ThreadMain() EXCLUDES(mu_);
  void EventLoop() EXCLUDES(mu_);
  bool Stopping() EXCLUDES(mu_);

  const std::shared_ptr<FcastReceiverObject> receiver_;
  const FileHandler onFile_;

  Mutex mu_;
  CondVar cv_;
  bool runRequested_ GUARDED_BY(mu_) = false;
  bool looping_ GUARDED_BY(mu_) = false;
  bool stop_ GUARDED_BY(mu_) = false;
  std::thread thread_ GUARDED_BY(mu_);
};

}  // namespace ondavox::client
