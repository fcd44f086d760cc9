#include "platform/LockedTemporary.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ondavox {
namespace {

// Files made in turn when a clean-up removes each before it is locked.
constexpr int kCreateAttempts = 4;

// True when |path| names the regular file open as |fd|.
bool SameFile(int fd, const std::filesystem::path& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

StatusOr<LockedTemporary> CreateLockedTemporary(std::string pathTemplate,
                                                std::string_view context) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    LockedTemporary temporary{UniqueFd(), pathTemplate};
    temporary.fd.Reset(::mkostemp(temporary.path.data(), O_CLOEXEC));
    if (!temporary.fd.Valid()) return PosixError(context, errno);
    struct stat info {};
    if (::flock(temporary.fd.Get(), LOCK_EX) != 0 || ::fstat(temporary.fd.Get(), &info) != 0) {
      const int error = errno;
      ::unlink(temporary.path.c_str());
      return PosixError(context, error);
    }
    if (info.st_nlink > 0) return temporary;
  }
  return Status::IoError(std::string(context) + ": removed while it was created");
}

int RemoveUnlockedFiles(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches) {
  int removed = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path& path = it->path();
    if (!matches(path.filename().string())) continue;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.Valid() && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 && SameFile(fd.Get(), path) &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace ondavox
