#include "client/headless/StopEvents.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ondavox::client {

StopEvents::StopEvents(const sigset_t& stopSignals)
    : signals_(::signalfd(-1, &stopSignals, SFD_CLOEXEC)),
      changes_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopEvents::Event StopEvents::Wait(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{signals_.Get(), POLLIN, 0}, {changes_.Get(), POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int wait = -1;
    if (timeout.count() >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    const int ready = ::poll(fds, 2, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Event::kError;
    if (ready == 0) return Event::kTimeout;
    // A stop signal wins over a change that came with it.
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signals_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
        return Event::kError;
      }
      return Event::kStopSignal;
    }
    std::uint64_t count = 0;
    if (::read(changes_.Get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
      return Event::kConnectionChanged;
    }
  }
}

void StopEvents::ConnectionChanged() {
  const std::uint64_t one = 1;
  // Only fails when the counter is near overflow: a change is pending anyway.
  [[maybe_unused]] const ssize_t written = ::write(changes_.Get(), &one, sizeof one);
}

}  // namespace ondavox::client
