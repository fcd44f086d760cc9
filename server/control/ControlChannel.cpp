#include "server/control/ControlChannel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "server/app/COndavoxDoc.h"

namespace ondavox::server {
namespace {

constexpr int kBacklog = 16;

// The address of |path|; false when it does not fit.
bool MakeAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// True when a server answers at |address|.
bool Answers(const sockaddr_un& address) {
  const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return probe.Valid() &&
         ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void Refuse(const Socket& connection, const std::string& text) {
  SendAll(connection.Fd(), ControlCommands::Serialize(ControlCommands::Error(text)));
}

}  // namespace

ControlChannel::ControlChannel(COndavoxDoc& document, ControlCommands::ServerSwitch serverSwitch)
    : commands_(document, std::move(serverSwitch)), log_(document.logHistory()) {}

ControlChannel::~ControlChannel() { Close(); }

std::string ControlChannel::ChoosePath(const std::string& option,
                                       const std::string& serverFolder) {
  if (!option.empty()) return option;
  const char* environment = std::getenv("ONDAVOX_SOCKET");
  if (environment != nullptr && *environment != '\0') return environment;
  return serverFolder + "/" + kDefaultName;
}

Status ControlChannel::Open(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) {
    return Status::InvalidArgument(path + ": not a usable socket path (empty or too long)");
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return Status::InvalidArgument(path + ": exists and is not a socket; not replaced");
    }
    if (Answers(address)) {
      return Status::InvalidArgument(path + ": another server is running on this socket");
    }
    ::unlink(path.c_str());  // left by a server that is gone
  }
  Socket listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener.Valid()) return PosixError("socket " + path, errno);
  if (::bind(listener.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return PosixError("bind " + path, errno);
  }
  if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(listener.Fd(), kBacklog) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    return PosixError("listen " + path, error);
  }
  UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.Valid()) {
    const int error = errno;
    ::unlink(path.c_str());
    return PosixError("eventfd", error);
  }
  path_ = path;
  listener_ = std::move(listener);
  wake_ = std::move(wake);
  acceptThread_ = std::thread(&ControlChannel::AcceptLoop, this);
  return Status();
}

void ControlChannel::Close() {
  if (path_.empty()) return;
  (void)eventfd_write(wake_.Get(), 1);
  acceptThread_.join();
  std::list<Running> sessions;
  {
    MutexLock lock(sessionsMu_);
    sessions.swap(sessions_);
  }
  for (Running& running : sessions) running.session->Stop();
  for (Running& running : sessions) running.thread.join();
  ::unlink(path_.c_str());
  listener_.Close();
  path_.clear();
}

void ControlChannel::AcceptLoop() {
  for (;;) {
    pollfd watched[] = {{listener_.Fd(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(watched, 2, -1) < 0 && errno != EINTR) return;
    if (watched[1].revents != 0) return;
    if (watched[0].revents == 0) continue;
    Socket connection(::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.Valid()) continue;  // the peer left, or descriptors ran out for now
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(connection.Fd(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        !PeerAllowed(peer.uid, ::geteuid())) {
      Refuse(connection, "permission denied: uid " + std::to_string(peer.uid) +
                             " may not administer this server");
      continue;
    }
    Serve(std::move(connection));
  }
}

void ControlChannel::Serve(Socket connection) {
  MutexLock lock(sessionsMu_);
  ReapFinished();
  if (sessions_.size() >= kMaxSessions) {
    Refuse(connection, "too many administration connections");
    return;
  }
  Running& running = sessions_.emplace_back();
  running.session = std::make_unique<ControlSession>(std::move(connection), commands_, log_);
  running.thread = std::thread(&ControlSession::Run, running.session.get());
}

void ControlChannel::ReapFinished() {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (!it->session->finished()) {
      ++it;
      continue;
    }
    it->thread.join();
    it = sessions_.erase(it);
  }
}

}  // namespace ondavox::server
