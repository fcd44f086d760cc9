#pragma once

#include "server/data/ServerEvent.h"

namespace ondavox::server {

// What receives the server's events: the server runner calls OnServerEvent of each listener,
// in the order they were added, synchronously on the posting thread (a client connection
// thread or the Fcast sender thread), which may already hold the server data lock. The event
// and its texts stay valid only during the call. Implemented by the server document.
class ServerEventListener {
 public:
  virtual ~ServerEventListener() = default;
  virtual void OnServerEvent(const ServerEvent& event) = 0;
};

}  // namespace ondavox::server
