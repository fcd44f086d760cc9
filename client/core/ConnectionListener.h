#pragma once

namespace ondavox::client {

// What the client core tells when a session opens or closes (ClientRunner::connected()
// changes), so the window's commands follow the connection state on change: Connect, a refused
// login, LOGOUT, a lost connection, the server's LOGOUT announcement. Implemented by the main
// view; called on the thread that changed the state (the window thread for Connect, a session
// thread for a close), so a window passes it on to its window thread without waiting.
class ConnectionListener {
 public:
  virtual ~ConnectionListener() = default;
  virtual void ConnectionChanged() = 0;
};

}  // namespace ondavox::client
