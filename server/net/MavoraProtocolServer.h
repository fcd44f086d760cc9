#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/MavoraProtocol.h"

namespace ondavox::server {

class ServerRunner;

// The server's protocol object: turns one request line from a client into one reply line.
//
// invoke splits the request, checks the field count for the command word and calls the
// command's handler; the handlers read and change the user and document databases, ask the
// runner to announce the playlist, and report what happened as events through the runner.
// Each handler runs under the server data lock (ServerDataAccess), so requests of several
// connections never touch the databases at the same time; the events a request raises are
// delivered right after the lock is released, in order. REGISTER, RECEIVED and KEY are the
// exceptions: REGISTER waits for the user database to reach the disk without the lock (see
// invokeREGISTER), RECEIVED may read a large file to check its digest, KEY touches no data.
//
// One per server, created by the runner; any thread (each connection thread calls invoke with
// the login recorded for its own connection).
class MavoraProtocolServer : public MavoraProtocol {
 public:
  explicit MavoraProtocolServer(ServerRunner& runner) : MavoraProtocol(kTab), runner_(runner) {}

  // The reply to |message|. |connectionLogin| is the login recorded for the calling
  // connection: an accepted LOGIN (or the login that follows an accepted REGISTER) sets it,
  // LOGOUT compares against it.
  std::string invoke(std::string_view message, std::string& connectionLogin);

  // Writes |reply| and one line feed to the connection in one call; errors are ignored.
  void sendMsg(int fd, std::string_view reply) const;
  // Sends |message| and one line feed as one datagram to |groupAddress|:|port| from the
  // announcer's socket |fd|. A failure is traced, not retried.
  void sendMsgMULTICAST(std::string message, const std::string& groupAddress, uint16_t port,
                        int fd) const;

  std::string invokeLOGIN(const Fields& fields, std::string& connectionLogin);
  std::string invokeLOGOUT(const Fields& fields, const std::string& connectionLogin);
  std::string invokeWHOIS(const Fields& fields);
  // Takes the data lock itself, twice: to add the user, then, once the user database is on disk
  // (UserSaver), to answer and log the user in. REQUIRES: the data lock is not held.
  std::string invokeREGISTER(const Fields& fields, std::string& connectionLogin);
  std::string invokeFILEINFO(const Fields& fields);
  std::string invokePLAYLIST(const Fields& fields);
  // A delivery receipt: RECEIVED, file name, size, SHA-256 in hex. Runs outside the server data
  // lock (checking the digest may read a large file).
  std::string invokeRECEIVED(const Fields& fields, const std::string& connectionLogin);
  // The server's public key: 230 and the key in base64; answered before a login too (the key
  // is public). Runs outside the server data lock. A server started without a key does not know
  // the command.
  std::string invokeKEY(const Fields& fields);

 private:
  std::string Dispatch(const Fields& fields, std::string& connectionLogin);
  void LoginAfterRegister(const Fields& fields, std::string& connectionLogin);
  // Traces |code| as sent, reports |failure| as a LOG_FAILURE event and returns |code|.
  std::string Fail(std::string_view code, std::string failure);

  ServerRunner& runner_;
};

}  // namespace ondavox::server
