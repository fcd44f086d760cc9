#include "server/data/DatabaseFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ondavox::server {

Status ReadDatabaseFile(const std::string& path, std::optional<std::string>* bytes) {
  bytes->reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Status();
    return Status::IoError("cannot open " + path + ": " + std::strerror(errno));
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int readErrno = errno;
      ::close(fd);
      return Status::IoError("cannot read " + path + ": " + std::strerror(readErrno));
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  *bytes = std::move(content);
  return Status();
}

}  // namespace ondavox::server
