#pragma once

#include <netinet/in.h>

#include <set>
#include <string>
#include <vector>

namespace ondavox::client {

// Where a session's server sends from: the only addresses whose announcements the session's
// listener reads, and the source address the Fcast receiver is given. Another machine of the
// network could otherwise end every session with a LOGOUT announcement or announce a transfer
// of its own.
//
// Made by ClientRunner::Connect from the server's address of the settings, one per session, and
// then owned by the session's multicast listener: Admit on the listener thread only.
class ServerSource {
 public:
  // The most stray addresses logged in one session; later ones are dropped without a line.
  static constexpr std::size_t kMaxLoggedStrays = 32;

  // The server at |serverAddress| (any form the settings file may hold; a text that is no
  // address admits nothing). |hostAddresses| (network order) are this host's own addresses.
  ServerSource(const std::string& serverAddress, const std::vector<in_addr_t>& hostAddresses);

  // True when a datagram from |sender| (network order) comes from the server. The first
  // datagram of each other address is logged with tag "UDP".
  bool Admit(in_addr_t sender);

  // The dotted address the receiver object reads from; empty for a server on this host.
  const std::string& receiverSource() const { return receiverSource_; }

 private:
  std::vector<in_addr_t> admitted_;
  std::string receiverSource_;
  std::set<in_addr_t> strays_;
};

}  // namespace ondavox::client
