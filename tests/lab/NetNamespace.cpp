#include "tests/lab/NetNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace ondavox::lab {
namespace {

std::string Errno(const std::string& what, int number = errno) { return what + ": " + std::strerror(number); }

// Closes every descriptor from |first| up; a system call, as a child of a threaded process may use.
void CloseDescriptorsFrom(unsigned first) { ::syscall(SYS_close_range, first, ~0u, 0u); }

// Reads one int the child sends through |fd| before it execs; nothing arrives when exec worked.
bool ReadChildErrno(int fd, int* number) {
  ssize_t n = 0;
  do {
    n = ::read(fd, number, sizeof *number);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof *number);
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/sbin:/usr/bin:/sbin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::unique_ptr<NetNamespace> NetNamespace::Create(std::string* error) {
  int ready[2];
  int keep_alive[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    *error = Errno("pipe");
    return nullptr;
  }
  if (::pipe2(keep_alive, O_CLOEXEC) != 0) {
    *error = Errno("pipe");
    ::close(ready[0]);
    ::close(ready[1]);
    return nullptr;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    *error = Errno("fork");
    for (int fd : {ready[0], ready[1], keep_alive[0], keep_alive[1]}) ::close(fd);
    return nullptr;
  }
  if (pid == 0) {
    // The holder: enter a fresh namespace, report, then wait for the maker to go away. Its only
    // descriptors are the two pipe ends it needs, so it never keeps another holder alive.
    ::dup2(keep_alive[0], 0);
    ::dup2(ready[1], 3);
    ::close(1);
    ::close(2);
    CloseDescriptorsFrom(4);
    int result = ::unshare(CLONE_NEWNET) == 0 ? 0 : errno;
    if (::write(3, &result, sizeof result) < 0) ::_exit(1);
    ::close(3);
    char byte;
    while (::read(0, &byte, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(keep_alive[0]);
  int result = 0;
  const bool reported = ReadChildErrno(ready[0], &result);
  ::close(ready[0]);
  int namespace_fd = -1;
  if (reported && result == 0) {
    namespace_fd = ::open(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (namespace_fd < 0) result = errno;
  }
  if (!reported || namespace_fd < 0) {
    *error = reported ? Errno("entering a new network namespace", result) : "the namespace holder died";
    ::close(keep_alive[1]);
    ::waitpid(pid, nullptr, 0);
    return nullptr;
  }
  return std::unique_ptr<NetNamespace>(new NetNamespace(pid, namespace_fd, keep_alive[1]));
}

NetNamespace::NetNamespace(pid_t holder, int namespace_fd, int keep_alive_fd)
    : holder_(holder), namespace_fd_(namespace_fd), keep_alive_fd_(keep_alive_fd) {}

NetNamespace::~NetNamespace() {
  ::close(keep_alive_fd_);
  ::close(namespace_fd_);
  while (::waitpid(holder_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::unique_ptr<HostProcess> NetNamespace::Start(const std::vector<std::string>& argv,
                                                 const std::filesystem::path& output_prefix,
                                                 std::string* error) {
  if (argv.empty()) {
    *error = "no program given";
    return nullptr;
  }
  const std::string program = FindProgram(argv.front());
  if (program.empty()) {
    *error = argv.front() + ": not found";
    return nullptr;
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  const std::filesystem::path output = output_prefix.string() + ".out";
  const std::filesystem::path errors = output_prefix.string() + ".err";
  const int out_fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err_fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int status_pipe[2] = {-1, -1};
  const bool opened = out_fd >= 0 && err_fd >= 0 && null_fd >= 0 && ::pipe2(status_pipe, O_CLOEXEC) == 0;
  auto close_all = [&] {
    for (int fd : {out_fd, err_fd, null_fd, status_pipe[0], status_pipe[1]}) {
      if (fd >= 0) ::close(fd);
    }
  };
  if (!opened) {
    *error = Errno("opening the output files of " + argv.front());
    close_all();
    return nullptr;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    *error = Errno("fork");
    close_all();
    return nullptr;
  }
  if (pid == 0) {
    // Only system calls from here to exec: the parent may have other threads.
    int failure = 0;
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (::setns(namespace_fd_, CLONE_NEWNET) != 0) failure = errno;
    if (failure == 0 && (::dup2(null_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0)) {
      failure = errno;
    }
    if (failure == 0) {
      ::dup2(status_pipe[1], 3);
      ::fcntl(3, F_SETFD, FD_CLOEXEC);
      CloseDescriptorsFrom(4);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execv(program.c_str(), args.data());
      failure = errno;
    } else {
      ::dup2(status_pipe[1], 3);
    }
    if (::write(3, &failure, sizeof failure) < 0) ::_exit(127);
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also from here, so the group exists before anyone signals it
  ::close(status_pipe[1]);
  status_pipe[1] = -1;
  int failure = 0;
  const bool failed = ReadChildErrno(status_pipe[0], &failure);
  close_all();
  auto process = std::make_unique<HostProcess>(pid, output, errors);
  if (failed) {
    *error = Errno("starting " + program, failure);
    process->Kill();
    return nullptr;
  }
  return process;
}

CommandResult NetNamespace::Run(const std::vector<std::string>& argv,
                                const std::filesystem::path& output_prefix,
                                std::chrono::milliseconds timeout) {
  CommandResult result;
  std::string error;
  std::unique_ptr<HostProcess> process = Start(argv, output_prefix, &error);
  if (!process) {
    result.output = error;
    return result;
  }
  if (!process->Wait(timeout)) process->Kill();
  result.exit_code = process->Kill();
  result.output = process->Output() + process->Errors();
  return result;
}

bool NetNamespace::RunInside(const std::function<void()>& work) const {
  bool entered = false;
  std::thread([&] {
    entered = ::setns(namespace_fd_, CLONE_NEWNET) == 0;
    if (entered) work();
  }).join();
  return entered;
}

}  // namespace ondavox::lab
