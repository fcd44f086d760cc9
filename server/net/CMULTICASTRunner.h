#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>

#include "common/MavoraProtocol.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/WakeUp.h"

namespace ondavox::server {

class ServerRunner;

// The multicast announcer: a worker thread that owns the UDP sending socket and sends the
// waiting announcements each time the runner's announcement wake-up fires. The runner hands it
// the field lists to send through Hand(); a list still waiting with the same first field (the
// same kind: PLAYLIST, FCAST, LOGOUT) is replaced, so announcements of one kind made faster
// than they are sent collapse into the newest one, while one kind never swallows another (the
// playlist announced after a file must not be lost to the next file's FCAST, nor an FCAST to a
// playlist announced by a LOGIN). Waiting lists are sent in the order of their hand-overs.
//
// Created and started by the runner's Start (window thread), fed from any thread, closed by
// the runner's Close. After a set-up failure (the port is taken, the interface is not this
// host's) the thread ends by itself and hand-overs are kept but never sent.
class CMULTICASTRunner {
 public:
  // |interfaceAddress|: the IPv4 address of the interface that sends; empty: the system's
  // route for the group.
  CMULTICASTRunner(ServerRunner& runner, uint16_t bindPort, uint16_t destinationPort,
                   std::string groupAddress, std::string interfaceAddress);
  ~CMULTICASTRunner();  // Close()
  CMULTICASTRunner(const CMULTICASTRunner&) = delete;
  CMULTICASTRunner& operator=(const CMULTICASTRunner&) = delete;

  // Starts the thread and returns once its socket is set up, or its set-up has failed.
  // Window thread.
  void Resume();
  // Puts |fields| at the end of the waiting lists, removing a waiting list of the same kind.
  // Any thread; the caller then signals the wake-up.
  void Hand(MavoraProtocol::Fields fields) EXCLUDES(mu_);
  // Ends the thread and closes the socket; nothing is sent afterwards. Any thread but its own;
  // a second call does nothing.
  void Close();

 private:
  void ThreadMain();
  bool InitMULTICAST();
  void Run();
  // Empties the waiting lists and returns them, oldest first.
  std::deque<MavoraProtocol::Fields> Take() EXCLUDES(mu_);

  ServerRunner& runner_;
  const uint16_t bindPort_;
  const uint16_t destinationPort_;
  const std::string groupAddress_;
  const std::string interfaceAddress_;

  Socket socket_;  // the thread's own; closed only after the thread has ended
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  WakeUp setUpDone_;

  Mutex mu_;
  std::deque<MavoraProtocol::Fields> pending_ GUARDED_BY(mu_);  // at most one of each kind
};

}  // namespace ondavox::server
