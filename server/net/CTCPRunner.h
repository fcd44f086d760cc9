#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/WakeUp.h"

namespace ondavox::server {

class CTCPDialogThread;
class ServerRunner;

// The server's TCP listener: a worker thread that owns the listening socket and starts one
// CTCPDialogThread per accepted connection. Connections whose thread has ended are pruned at
// each accept; the others live until Close.
//
// Created and started by the runner's Start (window thread), closed by the runner's Close.
// A bind or listen failure (the port is taken) ends the thread and leaves the server without a
// TCP port. An accept failure that is not caused by a stop stops the whole server through the
// runner; a shortage of descriptors or memory only pauses accepting.
class CTCPRunner {
 public:
  CTCPRunner(ServerRunner& runner, uint16_t port);
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

  ServerRunner& runner_;
  const uint16_t port_;
  Socket listener_;  // created before the thread starts, closed after it has ended
  Socket wake_;      // an eventfd that Close signals to end the accept loop
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  WakeUp setUpDone_;

  mutable Mutex mu_;
  std::vector<std::unique_ptr<CTCPDialogThread>> connections_ GUARDED_BY(mu_);
};

}  // namespace ondavox::server
