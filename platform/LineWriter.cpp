#include "platform/LineWriter.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <thread>

namespace ondavox {
namespace {

// Writes |text| with as few write calls as the system allows; gives up on a closed or broken
// descriptor. A broken pipe raises SIGPIPE at this thread, where it is blocked: it is taken
// back at once so it never stays pending.
void WriteWhole(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};  // a descriptor another owner made non-blocking
      ::poll(&ready, 1, -1);
    } else {
      if (n < 0 && errno == EPIPE) {
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        const timespec now{0, 0};
        ::sigtimedwait(&pipeSignal, nullptr, &now);
      }
      return;
    }
  }
}

struct Writers {
  Mutex mu;
  std::map<int, LineWriter*> byFd GUARDED_BY(mu);
};

// Never destroyed, like the writers it lists: texts may be written during the exit.
Writers& TheWriters() {
  static Writers* writers = new Writers;
  return *writers;
}

constexpr std::chrono::milliseconds kExitPatience{1000};

}  // namespace

LineWriter& LineWriter::ForFd(int fd) {
  Writers& writers = TheWriters();
  MutexLock lock(writers.mu);
  LineWriter*& writer = writers.byFd[fd];
  if (writer == nullptr) {
    if (writers.byFd.size() == 1) std::atexit([] { FlushAll(kExitPatience); });
    writer = new LineWriter(fd);
  }
  return *writer;
}

void LineWriter::FlushAll(std::chrono::milliseconds patience) {
  Writers& writers = TheWriters();
  MutexLock lock(writers.mu);
  for (auto& [fd, writer] : writers.byFd) writer->Flush(patience);
}

LineWriter::LineWriter(int fd) : fd_(fd) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  std::thread([this] { Run(); }).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool LineWriter::QueueDropReport(std::size_t extra) {
  if (dropped_ == 0) return true;
  std::string report = "[" + std::to_string(dropped_) + " lines dropped]\n";
  if (queuedBytes_ + report.size() + extra > kCapacity) return false;
  dropped_ = 0;
  Push(std::move(report));
  return true;
}

void LineWriter::Push(std::string text) {
  queuedBytes_ += text.size();
  queue_.push_back(std::move(text));
  ++accepted_;
  queued_.NotifyOne();
}

bool LineWriter::Write(std::string_view text) {
  MutexLock lock(mu_);
  if (!QueueDropReport(text.size()) || queuedBytes_ + text.size() > kCapacity) {
    ++dropped_;
    return false;
  }
  Push(std::string(text));
  return true;
}

bool LineWriter::Flush(std::chrono::milliseconds patience) {
  MutexLock lock(mu_);
  QueueDropReport(0);
  const std::uint64_t target = accepted_;
  while (done_ < target) {
    const std::uint64_t before = done_;
    if (!written_.WaitFor(mu_, patience, [&]() REQUIRES(mu_) { return done_ != before; })) {
      return false;
    }
  }
  return true;
}

void LineWriter::Run() {
  for (;;) {
    std::string text;
    {
      MutexLock lock(mu_);
      queued_.Wait(mu_, [&]() REQUIRES(mu_) { return !queue_.empty(); });
      text = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= text.size();
    }
    WriteWhole(fd_, text);
    MutexLock lock(mu_);
    ++done_;
    written_.NotifyAll();
  }
}

}  // namespace ondavox
