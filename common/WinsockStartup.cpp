#include "common/WinsockStartup.h"

#include <csignal>

namespace ondavox {

void WinsockStartup() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace ondavox
