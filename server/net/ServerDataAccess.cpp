#include "server/net/ServerDataAccess.h"

#include "server/net/ServerRunner.h"

namespace ondavox::server {
namespace {

thread_local ServerDataAccess* currentAccess = nullptr;

}  // namespace

ServerDataAccess::ServerDataAccess(ServerRunner& runner) : runner_(runner) {
  runner_.dataLock().Lock();
  currentAccess = this;
}

ServerDataAccess::~ServerDataAccess() {
  currentAccess = nullptr;
  runner_.dataLock().Unlock();
  for (const ServerEvent& event : deferred_) runner_.PostEvent(event);
}

ServerDataAccess* ServerDataAccess::Current(const ServerRunner& runner) {
  return currentAccess != nullptr && &currentAccess->runner_ == &runner ? currentAccess : nullptr;
}

}  // namespace ondavox::server
