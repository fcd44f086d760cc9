#include "client/core/ServerSource.h"


#include <algorithm>

#include "client/core/ClientLog.h"
#include "platform/Ipv4Endpoint.h"

namespace ondavox::client {

ServerSource::ServerSource(const std::string& serverAddress,
                           const std::vector<in_addr_t>& hostAddresses) {
  const std::optional<Ipv4Endpoint> server = Ipv4Endpoint::FromLegacyText(serverAddress, 0);
  if (!server) return;
  if ((ntohl(server->Address()) >> 24) != IN_LOOPBACKNET) {
    admitted_.push_back(server->Address());
    receiverSource_ = server->AddressText();
    return;
  }
  // A server reached on the loopback runs on this host, and its multicast leaves from whichever
  // of this host's addresses the system picks for the group's route: any of them is the
  // server's. When the group's route leaves through an interface without a usable address (a
  // host with the loopback only), the datagrams carry no source address at all (0.0.0.0), which
  // only this host can send: the system drops such datagrams from the network, but for the
  // groups of 224.0.0.0/24. The receiver is given no source then; the descriptors' signatures
  // still tell the server's files from others.
  admitted_ = hostAddresses;
  admitted_.push_back(server->Address());
  admitted_.push_back(htonl(INADDR_ANY));
}

bool ServerSource::Admit(in_addr_t sender) {
  if (std::find(admitted_.begin(), admitted_.end(), sender) != admitted_.end()) return true;
  if (strays_.size() < kMaxLoggedStrays && strays_.insert(sender).second) {
    AppendLog(
        "Announcements from " + Ipv4Endpoint(sender, 0).AddressText() + " dropped: not the server",
        "UDP");
  }
  return false;
}

}  // namespace ondavox::client
