#include "tools/loadgen/LoadRun.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/Mutex.h"
#include "tools/loadgen/LoadConnection.h"

namespace ondavox::load {
namespace {

using Clock = std::chrono::steady_clock;

// State shared by the worker threads.
struct Shared {
  std::atomic<int64_t> budget{0};
  std::atomic<int> registered{0};
  std::atomic<bool> go{false};  // every connection is registered: the request phase starts
  Clock::time_point deadline;
  Mutex mu;
};

struct WorkerResult {
  int connected = 0;
  int failedToConnect = 0;
  int held = 0;
  uint64_t requests = 0;
  uint64_t mismatched = 0;
  uint64_t lost = 0;
  std::vector<uint64_t> latencies;
};

void Worker(const LoadOptions& options, int worker, Shared& shared, WorkerResult& result) {
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  std::vector<std::unique_ptr<LoadConnection>> connections;
  std::vector<bool> waiting;  // a request is out
  std::vector<bool> open;
  for (int i = worker; i < options.connections; i += options.threads) {
    connections.push_back(std::make_unique<LoadConnection>(
        i, options.loginPrefix + std::to_string(i), options.documentName, options.documentOwner));
    waiting.push_back(false);
    open.push_back(false);
  }
  // Connections are opened as a ramp: at most kOpening at a time are connecting or registering,
  // as clients of a real network do not all arrive in the same millisecond.
  constexpr std::size_t kOpening = 64;
  std::size_t nextToOpen = 0;
  std::size_t opening = 0;
  const auto openMore = [&] {
    while (opening < kOpening && nextToOpen < connections.size()) {
      const std::size_t i = nextToOpen++;
      if (!connections[i]->Open(options.address, options.port)) {
        ++result.failedToConnect;
        continue;
      }
      epoll_event event{};
      event.events = EPOLLOUT;
      event.data.u64 = i;
      ::epoll_ctl(epoll, EPOLL_CTL_ADD, connections[i]->fd(), &event);
      open[i] = true;
      ++opening;
    }
  };
  openMore();

  const auto close = [&](std::size_t i) {
    if (!open[i]) return;
    ::epoll_ctl(epoll, EPOLL_CTL_DEL, connections[i]->fd(), nullptr);
    open[i] = false;
    if (!connections[i]->registered()) {
      ++result.failedToConnect;
      --opening;
      openMore();
    }
    if (waiting[i]) ++result.lost;
    waiting[i] = false;
  };
  const auto sendNext = [&](std::size_t i) {
    if (connections[i]->registered()) {
      if (!shared.go.load() || shared.budget.fetch_sub(1) <= 0) return;
    }
    if (connections[i]->SendNext()) {
      waiting[i] = true;
    } else {
      close(i);
    }
  };

  std::vector<epoll_event> events(256);
  Clock::time_point drainUntil{};
  bool started = false;
  for (;;) {
    const auto now = Clock::now();
    const bool out = now >= shared.deadline || (shared.go.load() && shared.budget.load() <= 0);
    if (out) {
      if (drainUntil == Clock::time_point{}) drainUntil = now + std::chrono::seconds(5);
      if (std::none_of(waiting.begin(), waiting.end(), [](bool w) { return w; }) || now >= drainUntil) {
        break;
      }
    }
    if (!started && shared.go.load()) {
      // The registered connections get their first request; the others start when their
      // registration is answered.
      started = true;
      for (std::size_t i = 0; i < connections.size(); ++i) {
        if (open[i] && !waiting[i] && connections[i]->registered()) sendNext(i);
      }
    }
    const int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 20);
    for (int e = 0; e < ready; ++e) {
      const std::size_t i = events[e].data.u64;
      if (!open[i]) continue;
      if (events[e].events & EPOLLOUT) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(connections[i]->fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
          close(i);
          continue;
        }
        epoll_event in{};
        in.events = EPOLLIN | EPOLLRDHUP;
        in.data.u64 = i;
        ::epoll_ctl(epoll, EPOLL_CTL_MOD, connections[i]->fd(), &in);
        sendNext(i);  // the registration
        continue;
      }
      const bool wasRegistered = connections[i]->registered();
      const bool alive = connections[i]->Receive([&](uint64_t latencyNs, bool matched) {
        waiting[i] = false;
        if (!matched) ++result.mismatched;
        if (wasRegistered) {
          ++result.requests;
          result.latencies.push_back(latencyNs);
        }
      });
      if (!wasRegistered && connections[i]->registered()) {
        ++result.connected;
        shared.registered.fetch_add(1);
        --opening;
        openMore();
      }
      if (!alive) {
        close(i);
        continue;
      }
      if (!waiting[i] && connections[i]->registered()) sendNext(i);
    }
  }
  for (std::size_t i = 0; i < connections.size(); ++i) {
    if (waiting[i]) ++result.lost;
    if (open[i] && connections[i]->registered()) ++result.held;
  }
  ::close(epoll);
}

}  // namespace

LoadResult RunLoad(const LoadOptions& options) {
  Shared shared;
  shared.budget = static_cast<int64_t>(options.requests);
  shared.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(options.seconds));
  std::vector<WorkerResult> results(static_cast<std::size_t>(options.threads));
  std::vector<std::thread> threads;
  for (int t = 0; t < options.threads; ++t) {
    threads.emplace_back(Worker, std::cref(options), t, std::ref(shared), std::ref(results[t]));
  }
  // The request phase starts when every connection has registered (or the registrations
  // stopped coming).
  int last = -1;
  auto lastChange = Clock::now();
  while (Clock::now() < shared.deadline) {
    const int now = shared.registered.load();
    if (now == options.connections) break;
    if (now != last) {
      last = now;
      lastChange = Clock::now();
    } else if (Clock::now() - lastChange > std::chrono::seconds(10)) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto start = Clock::now();
  shared.go = true;
  for (auto& thread : threads) thread.join();

  LoadResult total;
  total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (WorkerResult& result : results) {
    total.connected += result.connected;
    total.failedToConnect += result.failedToConnect;
    total.held += result.held;
    total.requests += result.requests;
    total.mismatched += result.mismatched;
    total.lost += result.lost;
    total.latenciesNs.insert(total.latenciesNs.end(), result.latencies.begin(), result.latencies.end());
  }
  std::sort(total.latenciesNs.begin(), total.latenciesNs.end());
  return total;
}

}  // namespace ondavox::load
