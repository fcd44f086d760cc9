#pragma once

#include <cstdint>
#include <string>

#include "platform/Socket.h"
#include "platform/Status.h"

namespace ondavox::fcast {

// Opening the UDP sockets of a transfer. A sending socket is connected to the group so that
// batches go out with sendmmsg and no per-datagram address; a receiving socket is bound to the
// group and port (so it sees no other group's traffic) and has joined the group. |interface|
// is the IPv4 address of the interface to use, empty for the system's choice. Both get large
// socket buffers. The socket, or the failure naming the address or the call. Any thread.
StatusOr<Socket> OpenSendSocket(const std::string& group, std::uint16_t port,
                                const std::string& interface, int ttl);
StatusOr<Socket> OpenReceiveSocket(const std::string& group, std::uint16_t port,
                                   const std::string& interface);

// True when |address| is a dotted IPv4 multicast address (224.0.0.0/4).
bool IsMulticastGroup(const std::string& address);

}  // namespace ondavox::fcast
