#include "platform/PollableWakeUp.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace ondavox {

PollableWakeUp::PollableWakeUp() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void PollableWakeUp::Signal() {
  // The counter only grows; Take reads it back to 0, however many signals it holds.
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

bool PollableWakeUp::Take() {
  std::uint64_t count = 0;
  return ::read(fd_.Get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

}  // namespace ondavox
