#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/LockedTemporary.h"
#include "platform/UniqueFd.h"

namespace ondavox {
namespace {

constexpr char kTemporarySuffix[] = ".XXXXXX";

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

mode_t ModeFor(const std::string& path, FileAccess access) {
  if (access == FileAccess::kOwnerOnly) return S_IRUSR | S_IWUSR;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Status WriteFileAtomically(const std::string& path, std::string_view bytes, FileAccess access) {
  StatusOr<LockedTemporary> temporary = CreateLockedTemporary(
      path + kTemporarySuffix, "cannot create a temporary file beside " + path);
  if (!temporary.ok()) return temporary.status();
  UniqueFd& fd = temporary->fd;
  const std::string& temp = temporary->path;

  bool ok = ::fchmod(fd.Get(), ModeFor(path, access)) == 0;
  std::string_view rest = bytes;
  while (ok && !rest.empty()) {
    const ssize_t n = ::write(fd.Get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) rest.remove_prefix(static_cast<size_t>(n));
  }
  ok = ok && ::fsync(fd.Get()) == 0;
  const int savedErrno = errno;
  ok = fd.Close() && ok;
  if (!ok) {
    const Status failed = PosixError("cannot write " + path, savedErrno);
    ::unlink(temp.c_str());
    return failed;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const Status failed = PosixError("cannot replace " + path, errno);
    ::unlink(temp.c_str());
    return failed;
  }
  // Make the rename itself durable.
  const UniqueFd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
  return Status();
}

int RemoveStaleTemporaries(const std::string& path) {
  const std::string prefix = std::filesystem::path(path).filename().string() + ".";
  const std::size_t length = prefix.size() + std::strlen(kTemporarySuffix) - 1;
  return RemoveUnlockedFiles(DirectoryOf(path), [&](std::string_view name) {
    return name.size() == length && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
  });
}

}  // namespace ondavox
