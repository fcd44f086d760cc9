#include "platform/UniqueFd.h"

#include <unistd.h>

namespace ondavox {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  return ::close(Release()) == 0;
}

}  // namespace ondavox
