#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "client/core/WorkerThread.h"
#include "common/LineReader.h"
#include "common/MavoraProtocol.h"
#include "platform/Mutex.h"
#include "platform/PollableWakeUp.h"
#include "platform/Socket.h"

namespace ondavox::client {

class ClientRunner;

// The TCP session thread of one client session: connects to the server, then sends one
// posted command at a time and handles its one-line reply (codes to the log with tag "TCP",
// information texts to the Infos box, "401", "404" and "202" end the session), until the
// session closes. Between commands it waits on its wake-up and on the connection together, so
// a server that closes the connection or fails ends the session at once, as a command without
// a reply does; bytes the server sends between replies are dropped, never taken for a reply.
//
// Once a LOGIN or REGISTER of the session was accepted, the thread itself asks the server for its
// key (KEY), once per session, before anything else it sends; the reply goes to the runner's key
// trust, not to the log.
//
// Delivery receipts wait in a queue of their own, behind the user's command: a command
// replaces the one not taken yet, a receipt never does nor is replaced. They are sent only once
// a LOGIN or REGISTER of the session was accepted, and no more after the server answered one
// with "406" (it does not know RECEIVED: nothing is logged of that answer).
//
// Made by ClientRunner::Connect, one per session, and joined and destroyed by the runner after
// the session closed. Post: any thread (the window thread). Close: the thread that closes the
// session (a session thread, or the runner's owner at its end). Its wake-up belongs to this
// session only, so a wake-up left from a closed session is never taken by a later one.
class CTCPDialog final : public WorkerThread {
 public:
  // |closeSession| closes the whole session this thread belongs to; |runner| outlives it.
  // |awaitListener| returns once the session's announcements can be heard; the thread calls
  // it when connected, before it sends any command.
  CTCPDialog(int port, std::string serverAddress, ClientRunner& runner,
             std::function<void()> closeSession, std::function<void()> awaitListener);
  ~CTCPDialog() override;

  // Makes |command| the command to send next, replacing one not taken yet, and wakes the
  // thread. A command posted after Close is dropped.
  void Post(MavoraProtocol::Fields command) EXCLUDES(mu_);
  // Puts the RECEIVED command |receipt| at the end of the receipt queue and wakes the thread.
  // Dropped after Close. Any thread.
  void PostReceipt(MavoraProtocol::Fields receipt) EXCLUDES(mu_);

  // Ends the thread (waiting for it unless called on it) and closes the socket; logs
  // "You've been disconnected" with tag "TCP".
  void Close() EXCLUDES(mu_);

  bool InitTCP() EXCLUDES(mu_);

  // Acts on one reply; false when the reply ends the session.
  bool TakeReply(const std::string& reply);

 protected:
  bool InitInstance() override;
  int Run() override;
  int ExitInstance() override;

 private:
  struct Outgoing {
    enum class Kind { kCommand, kReceipt, kServerKey };
    MavoraProtocol::Fields fields;
    Kind kind = Kind::kCommand;
  };

  // Connects |fd| to the server; false on failure or when the session was closed meanwhile.
  bool ConnectSocket(int fd) const;
  bool Stopped() EXCLUDES(mu_);
  // KEY when it is due, else the user's command if one waits, else the oldest receipt.
  std::optional<Outgoing> TakeNext() EXCLUDES(mu_);
  // Waits for the wake-up or for the connection to end; false when it ended or failed. Bytes
  // that arrive meanwhile are read and dropped.
  bool AwaitWork(int fd);
  // Sends |outgoing| and acts on its reply; false when the session ends.
  bool Exchange(Outgoing outgoing, int fd, LineReader& reader);

  const int port_;
  const std::string serverAddress_;
  ClientRunner& runner_;
  const std::function<void()> closeSession_;
  const std::function<void()> awaitListener_;
  // Its own thread only: the local address of the connection, sent with LOGIN and REGISTER;
  // whether a login was accepted; whether KEY is to be sent, or was; whether the server may know
  // RECEIVED.
  std::string localAddress_;
  bool loggedIn_ = false;
  bool keyDue_ = false;
  bool keyAsked_ = false;
  bool receiptsKnown_ = true;

  PollableWakeUp wake_;
  Mutex mu_;
  Socket socket_ GUARDED_BY(mu_);
  bool stopped_ GUARDED_BY(mu_) = false;
  std::optional<MavoraProtocol::Fields> pending_ GUARDED_BY(mu_);
  std::deque<MavoraProtocol::Fields> receipts_ GUARDED_BY(mu_);
};

}  // namespace ondavox::client
