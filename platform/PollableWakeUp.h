#pragma once

#include "platform/UniqueFd.h"

namespace ondavox {

// A wake-up signal whose count is 0 or 1, like WakeUp, that a thread can wait on together with
// sockets: its descriptor (an eventfd) is readable while a signal is pending, so it goes into
// the same poll() as the sockets. Signal: any thread; Take and Fd: the one waiting thread.
class PollableWakeUp {
 public:
  PollableWakeUp();
  PollableWakeUp(const PollableWakeUp&) = delete;
  PollableWakeUp& operator=(const PollableWakeUp&) = delete;

  // False when the eventfd could not be made; then nothing can wait on it.
  bool Valid() const { return fd_.Valid(); }
  // Makes a signal pending; a second one before it is taken has no effect.
  void Signal();
  // Takes the pending signal without waiting; false when none was pending.
  bool Take();
  // Readable (POLLIN) while a signal is pending.
  int Fd() const { return fd_.Get(); }

 private:
  UniqueFd fd_;
};

}  // namespace ondavox
