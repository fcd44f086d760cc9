#include "server/data/DatabaseFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/UniqueFd.h"

namespace ondavox::server {

Status ReadDatabaseFile(const std::string& path, std::optional<std::string>* bytes) {
  bytes->reset();
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) return Status();
    return PosixError("cannot open " + path, errno);
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError("cannot read " + path, errno);
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  *bytes = std::move(content);
  return Status();
}

}  // namespace ondavox::server
