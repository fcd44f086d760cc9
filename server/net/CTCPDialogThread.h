#pragma once

#include <atomic>
#include <chrono>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "server/net/SessionThread.h"

namespace ondavox::server {

class ServerRunner;

// One client connection of the server and the thread that serves it: it reads the client's
// requests one line at a time, hands each to the protocol's invoke with the login recorded for
// this connection, and writes the reply back. A reply that begins with "202" (LOGOUT accepted)
// ends the connection; a lost connection (closed, failed, or an empty line) is turned into a
// LOGOUT of the connection's login, whose reply is dropped. Until a login is accepted on it, a
// connection that stays silent for the login time limit is closed the same way; a logged-in
// connection stays open however idle it is.
//
// Created by the listener for each accepted connection and started there; dropped (to make
// room) or closed by the listener from another thread, after which nothing more is processed
// on it.
class CTCPDialogThread {
 public:
  CTCPDialogThread(ServerRunner& runner, Socket socket, std::chrono::seconds loginTimeout);
  ~CTCPDialogThread();  // Close()
  CTCPDialogThread(const CTCPDialogThread&) = delete;
  CTCPDialogThread& operator=(const CTCPDialogThread&) = delete;

  // Starts the thread, created by |create|; returns 0, or the error number when it could not
  // be created (the connection is then closed when this object is destroyed). Listener thread.
  int Resume(SessionThread::CreateFn create);
  // Shuts the connection down without waiting: the thread ends as for a lost connection.
  // Any thread.
  void Drop() EXCLUDES(mu_);
  // Shuts the connection down, waits for the thread to end and closes the socket; when the
  // thread has already ended by itself only the waiting is left. Any thread but its own.
  void Close() EXCLUDES(mu_);
  // True once the thread has left its loop (it may still be finishing). Any thread.
  bool Ended() const { return ended_.load(); }
  // True while the thread serves the connection and it has not been dropped. Any thread.
  bool Serving() const { return !ended_.load() && !dropped_.load(); }
  // True once a login was accepted on the connection. Any thread.
  bool LoggedIn() const { return loggedIn_.load(); }

 private:
  void ThreadMain();
  void Run();
  void CloseSocket() EXCLUDES(mu_);

  // Sets how long the thread's reads wait (0: for ever).
  void SetReadTimeout(std::chrono::seconds timeout) const;

  ServerRunner& runner_;
  const int fd_;  // read and written by the thread; valid until socket_ is closed
  const std::chrono::seconds loginTimeout_;
  SessionThread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> dropped_{false};
  std::atomic<bool> loggedIn_{false};

  Mutex mu_;
  Socket socket_ GUARDED_BY(mu_);
};

}  // namespace ondavox::server
