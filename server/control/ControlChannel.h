#pragma once

#include <sys/types.h>

#include <list>
#include <memory>
#include <string>
#include <thread>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/Status.h"
#include "platform/UniqueFd.h"
#include "server/control/ControlCommands.h"
#include "server/control/ControlSession.h"

namespace ondavox::server {

// The server's administration channel: a Unix domain stream socket (mode 0600) that accepts
// connections from the server's own user or root, each served by a ControlSession on a thread
// of its own, at most kMaxSessions at once. Anyone else gets one refusal line and is closed.
//
// Open and Close on the program's main thread; the accept loop and the sessions on their own
// threads. Closing stops every session, joins every thread and removes the socket file.
class ControlChannel {
 public:
  static constexpr std::size_t kMaxSessions = 16;
  static constexpr char kDefaultName[] = "ondavox.sock";

  ControlChannel(COndavoxDoc& document, ControlCommands::ServerSwitch serverSwitch);
  ~ControlChannel();  // Close()
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // The socket path to use: |option| when given, else $ONDAVOX_SOCKET, else kDefaultName in
  // |serverFolder|.
  static std::string ChoosePath(const std::string& option, const std::string& serverFolder);
  // Whether a peer running as |peer| may administer a server running as |self|.
  static bool PeerAllowed(uid_t peer, uid_t self) { return peer == self || peer == 0; }

  // Listens at |path|. A socket file left by a server that is gone is replaced; one that a
  // running server answers on, or a file that is not a socket, is an error naming the path.
  Status Open(const std::string& path);
  void Close() EXCLUDES(sessionsMu_);

 private:
  struct Running {
    std::unique_ptr<ControlSession> session;
    std::thread thread;
  };

  void AcceptLoop() EXCLUDES(sessionsMu_);
  void Serve(Socket connection) EXCLUDES(sessionsMu_);
  // Joins and forgets the sessions whose Run has returned.
  void ReapFinished() REQUIRES(sessionsMu_);

  const ControlCommands commands_;
  LogHistory& log_;
  std::string path_;  // empty while closed
  Socket listener_;
  UniqueFd wake_;  // an eventfd that ends the accept loop
  std::thread acceptThread_;

  Mutex sessionsMu_;
  std::list<Running> sessions_ GUARDED_BY(sessionsMu_);
};

}  // namespace ondavox::server
