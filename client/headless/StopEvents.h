#pragma once

#include <signal.h>

#include <chrono>

#include "client/core/ConnectionListener.h"
#include "platform/UniqueFd.h"

namespace ondavox::client {

// What the main thread of the client without a window waits for: a stop signal (SIGINT,
// SIGTERM), or a change of the session's connection state, whichever comes first. It owns a
// signalfd over the stop signals and an eventfd that ConnectionChanged counts up; Wait polls
// both, so nothing is polled in a loop.
//
// The stop signals must be blocked in every thread before any thread starts (the main blocks
// them first thing), or the process would take them the default way. Built and waited on by the
// main thread; ConnectionChanged: any thread (the main thread on Connect, a session thread on a
// close).
class StopEvents final : public ConnectionListener {
 public:
  enum class Event { kStopSignal, kConnectionChanged, kTimeout, kError };

  explicit StopEvents(const sigset_t& stopSignals);

  // False when the descriptors could not be made.
  bool ok() const { return signals_.Valid() && changes_.Valid(); }

  // The next event, waiting at most |timeout| (for ever when negative). A connection change
  // is reported once however many changes came since the last Wait.
  Event Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

  void ConnectionChanged() override;

 private:
  UniqueFd signals_;
  UniqueFd changes_;
};

}  // namespace ondavox::client
