#pragma once

#include <signal.h>

namespace ondavox {

// Blocks SIGINT and SIGTERM in the calling thread and returns the set of the two, for a program
// that waits for them (sigwait, signalfd) instead of handling them. Call it in main before any
// thread exists, so that every thread inherits the mask and only that wait receives them.
inline sigset_t BlockStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return stopSignals;
}

}  // namespace ondavox
