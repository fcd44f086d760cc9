#pragma once

#include <vector>

#include "platform/ThreadAnnotations.h"
#include "server/data/ServerEvent.h"

namespace ondavox::server {

class ServerRunner;

// Holds the server data lock for one scope (a request, a dialog action, an event's handling):
// the user database, the document database and the document's login lists are touched only
// inside such a scope. Events posted through the runner on this thread while the scope is
// open are kept and delivered, in order, right after the lock is released, so a listener
// that takes the lock itself never waits for its own thread.
//
// Scopes do not nest (the lock is not recursive). Any thread; one scope per thread at a time.
class ServerDataAccess {
 public:
  // The lock is taken in the constructor and released in the destructor, which the
  // thread-safety analysis cannot follow through the runner.
  explicit ServerDataAccess(ServerRunner& runner) NO_THREAD_SAFETY_ANALYSIS;
  ~ServerDataAccess() NO_THREAD_SAFETY_ANALYSIS;
  ServerDataAccess(const ServerDataAccess&) = delete;
  ServerDataAccess& operator=(const ServerDataAccess&) = delete;

  // The scope open on this thread for |runner|, or null.
  static ServerDataAccess* Current(const ServerRunner& runner);
  // Keeps |event| until the scope closes.
  void Defer(const ServerEvent& event) { deferred_.push_back(event); }

 private:
  ServerRunner& runner_;
  std::vector<ServerEvent> deferred_;
};

}  // namespace ondavox::server
