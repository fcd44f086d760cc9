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

// Moves the process into a new network namespace of its own (inside a new user namespace when
// it is not root), brings the loopback up with multicast and routes the multicast range to it.
// Each process that calls it gets a namespace no other process shares, so test binaries may run
// in parallel on the same ports. Must be called before the process starts any thread. Returns
// an error text when it cannot.
std::optional<std::string> EnterPrivateNetwork();

}  // namespace ondavox
