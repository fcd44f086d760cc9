#pragma once

#include <netinet/in.h>

#include <chrono>
#include <functional>
#include <string>

#include "client/core/ServerSource.h"
#include "client/core/WorkerThread.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/WakeUp.h"

namespace ondavox::client {

class ClientRunner;

// The multicast listener of one client session: joins the server's announcement group, hands
// each datagram to the protocol object's invoke, logs playlist changes, and closes the session
// on a LOGOUT announcement. No address-reuse option is set, so a second listener on the same
// port fails to bind and its session closes.
//
// Datagrams from another address than the server's (ServerSource) are dropped unread.
//
// Made by ClientRunner::Connect, one per session, started before the TCP session thread, and
// joined and destroyed by the runner after the session closed. Close: the thread that closes
// the session.
class CMULTICASTDialog final : public WorkerThread {
 public:
  // |closeSession| closes the whole session this thread belongs to; |runner| outlives it.
  // |source| tells the server's datagrams from the others.
  CMULTICASTDialog(int port, std::string groupAddress, ServerSource source, ClientRunner& runner,
                   std::function<void()> closeSession);
  ~CMULTICASTDialog() override;

  // Leaves the group, ends the thread (waiting for it unless called on it) and closes the
  // socket; logs "You've been disconnected" with tag "UDP".
  void Close() EXCLUDES(mu_);

  bool InitMULTICAST() EXCLUDES(mu_);

  // Waits, at most |timeout|, until the thread has joined its group, failed to, or the session
  // closed: the server answers a login with an announcement, which a client that has not yet
  // joined would miss. One waiter (the TCP session thread).
  void WaitSettled(std::chrono::milliseconds timeout) { settled_.WaitFor(timeout); }

 protected:
  bool InitInstance() override;
  int Run() override;
  int ExitInstance() override;

 private:
  bool Stopped() EXCLUDES(mu_);

  const int port_;
  const std::string groupAddress_;
  ServerSource source_;  // its own thread only
  ClientRunner& runner_;
  const std::function<void()> closeSession_;
  WakeUp settled_;  // signalled once InitMULTICAST has ended, and at Close

  Mutex mu_;
  Socket socket_ GUARDED_BY(mu_);
  ip_mreq membership_ GUARDED_BY(mu_){};
  bool joined_ GUARDED_BY(mu_) = false;
  bool stopped_ GUARDED_BY(mu_) = false;
};

}  // namespace ondavox::client
