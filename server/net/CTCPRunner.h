#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/WakeUp.h"
#include "server/net/SessionThread.h"

namespace ondavox::server {

class CTCPDialogThread;
class ServerRunner;

// How many connections the listener serves at once and how long one may wait for its login.
struct ConnectionLimits {
  std::size_t maxConnections = 0;      // in all
  std::size_t maxUnauthenticated = 0;  // of those not logged in yet
  std::chrono::seconds loginTimeout{30};
  SessionThread::CreateFn threadCreate = &::pthread_create;  // creates each connection's thread
};

// The server's TCP listener: a worker thread that owns the listening socket and starts one
// CTCPDialogThread per accepted connection. Connections whose thread has ended are pruned at
// each accept and once a second while any are open; the others live until Close. When the
// last one has gone, the memory the sessions freed is handed back to the system.
//
// A new connection beyond a limit makes room by dropping the oldest connection that has not
// logged in; when every connection is logged in and the limit is reached, the new one is
// closed at once. A connection whose thread cannot be created is closed at once too. Each of
// these is reported as an event when it differs from what happened to the previous connection,
// so a flood does not flood the log.
//
// Created and started by the runner's Start (window thread), closed by the runner's Close.
// A bind or listen failure (the port is taken) ends the thread and leaves the server without a
// TCP port. An accept failure that is not caused by a stop stops the whole server through the
// runner; a shortage of descriptors or memory only pauses accepting.
class CTCPRunner {
 public:
  CTCPRunner(ServerRunner& runner, uint16_t port, const ConnectionLimits& limits);
  ~CTCPRunner();  // Close()
  CTCPRunner(const CTCPRunner&) = delete;
  CTCPRunner& operator=(const CTCPRunner&) = delete;

  // Starts the thread and returns once the socket is listening, or its set-up has failed.
  // Window thread.
  void Resume();
  // Closes every connection, oldest first, then the listening socket, and ends the thread.
  // Any thread but its own; a second call does nothing.
  void Close() EXCLUDES(mu_);
  // Connections whose thread is still serving. Any thread.
  std::size_t LiveConnections() const EXCLUDES(mu_);

 private:
  void ThreadMain();
  // Tells the runner's listeners that the port could not be opened, with |error| (errno).
  void ReportUnavailable(int error);
  bool InitTCP();
  void AcceptLoop() EXCLUDES(mu_);
  void Adopt(Socket connection) EXCLUDES(mu_);
  // Joins the threads that have ended; trims the heap when none is left.
  void PruneEnded() EXCLUDES(mu_);
  // Moves the connections whose thread has ended to |ended|.
  void TakeEndedLocked(std::vector<std::unique_ptr<CTCPDialogThread>>& ended) REQUIRES(mu_);
  bool HasConnections() const EXCLUDES(mu_);

  // What became of an accepted connection.
  enum class Outcome { kServed, kOldestDropped, kRefused, kNoThread };
  // Posts the event of |outcome| unless the previous connection had the same one.
  void Report(Outcome outcome, int error);

  ServerRunner& runner_;
  const uint16_t port_;
  const ConnectionLimits limits_;
  Outcome previous_ = Outcome::kServed;  // listener thread only
  Socket listener_;  // created before the thread starts, closed after it has ended
  Socket wake_;      // an eventfd that Close signals to end the accept loop
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  WakeUp setUpDone_;

  mutable Mutex mu_;
  std::vector<std::unique_ptr<CTCPDialogThread>> connections_ GUARDED_BY(mu_);
};

}  // namespace ondavox::server
