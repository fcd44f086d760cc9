#pragma once

namespace ondavox {

// Prepares the process for networking; called by each program's runner before it opens a
// socket, and safe to call again. On this system there is nothing to start: it makes writes to
// a peer that has gone away return an error instead of ending the process (SIGPIPE ignored).
void WinsockStartup();

}  // namespace ondavox
