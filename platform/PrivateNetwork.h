#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ondavox {

// The private network every socket-opening test, benchmark and demo runs in: a network
// namespace of the process's own whose only interface is the loopback, up, with multicast on
// and the multicast range 224.0.0.0/4 routed to it, so that nothing leaves the machine.

// Names of the network interfaces this process can see.
std::vector<std::string> VisibleInterfaces();

// True when the loopback is the only interface visible.
bool OnlyLoopbackVisible();

// Makes sure the process is in such a namespace: when other interfaces are visible it moves
// the process into a new network namespace (with a user namespace when it is not root); then
// it brings the loopback up with multicast and adds the multicast route. Must be called before
// the process starts any thread. Returns an error text when it cannot.
std::optional<std::string> EnsurePrivateNetwork();

}  // namespace ondavox
