#pragma once

#include <atomic>
#include <thread>

#include "platform/Mutex.h"
#include "platform/Socket.h"

namespace ondavox::server {

class ServerRunner;

// One client connection of the server and the thread that serves it: it reads the client's
// requests one line at a time, hands each to the protocol's invoke with the login recorded for
// this connection, and writes the reply back. A reply that begins with "202" (LOGOUT accepted)
// ends the connection; a lost connection (closed, failed, or an empty line) is turned into a
// LOGOUT of the connection's login, whose reply is dropped.
//
// Created by the listener for each accepted connection and started there; closed by the
// listener's Close from another thread, after which nothing more is processed on it.
class CTCPDialogThread {
 public:
  CTCPDialogThread(ServerRunner& runner, Socket socket);
  ~CTCPDialogThread();  // Close()
  CTCPDialogThread(const CTCPDialogThread&) = delete;
  CTCPDialogThread& operator=(const CTCPDialogThread&) = delete;

  // Starts the thread. Listener thread.
  void Resume();
  // Shuts the connection down, waits for the thread to end and closes the socket; when the
  // thread has already ended by itself only the waiting is left. Any thread but its own.
  void Close() EXCLUDES(mu_);
  // True once the thread has left its loop (it may still be finishing). Any thread.
  bool Ended() const { return ended_.load(); }

 private:
  void ThreadMain();
  void Run();
  void CloseSocket() EXCLUDES(mu_);

  ServerRunner& runner_;
  const int fd_;  // read and written by the thread; valid until socket_ is closed
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> ended_{false};

  Mutex mu_;
  Socket socket_ GUARDED_BY(mu_);
};

}  // namespace ondavox::server
