#include "server/control/ControlSession.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ondavox::server {
namespace {

constexpr std::size_t kReadChunk = 4096;

// Takes the eventfd's count so that it reads as idle again.
void Drain(int eventFd) {
  eventfd_t count = 0;
  (void)eventfd_read(eventFd, &count);
}

}  // namespace

ControlSession::ControlSession(Socket socket, const ControlCommands& commands, LogHistory& log)
    : socket_(std::move(socket)),
      commands_(commands),
      log_(log),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void ControlSession::Stop() {
  stopping_ = true;
  if (wake_.Valid()) (void)eventfd_write(wake_.Get(), 1);
  socket_.Shutdown();
}

void ControlSession::Run() {
  while (std::optional<std::string> line = ReadLine()) {
    nlohmann::json error;
    const nlohmann::json request = ControlCommands::Parse(*line, &error);
    if (request.is_null()) {
      if (!Reply(error)) break;
      continue;
    }
    if (const std::optional<std::size_t> past = ControlCommands::FollowRequest(request)) {
      Follow(*past);
      break;
    }
    if (!Reply(commands_.Handle(request))) break;
  }
  finished_ = true;
}

bool ControlSession::Reply(const nlohmann::json& reply) {
  return SendAll(socket_.Fd(), ControlCommands::Serialize(reply));
}

std::optional<std::string> ControlSession::ReadLine() {
  char chunk[kReadChunk];
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (discarding_) {
        discarding_ = false;
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      return line;
    }
    if (buffer_.size() > kMaxLine) {
      if (!discarding_ &&
          !Reply(ControlCommands::Error("line longer than " + std::to_string(kMaxLine) +
                                        " bytes"))) {
        return std::nullopt;
      }
      discarding_ = true;
      buffer_.clear();
    }
    if (stopping_.load()) return std::nullopt;
    const ssize_t got = ::recv(socket_.Fd(), chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

void ControlSession::Queue(const LogHistory::Line& line) {
  {
    MutexLock lock(queueMu_);
    if (queued_.size() >= kMaxQueuedLines) {
      ++dropped_;
      return;
    }
    queued_.push_back(line);
  }
  (void)eventfd_write(wake_.Get(), 1);
}

void ControlSession::Follow(std::size_t pastLines) {
  if (!wake_.Valid()) {
    Reply(ControlCommands::Error("cannot follow the log: no wake-up descriptor"));
    return;
  }
  std::vector<LogHistory::Line> past;
  const int id = log_.Follow([this](const LogHistory::Line& line) { Queue(line); }, pastLines,
                             &past);
  bool open = Reply(ControlCommands::LogReply(past));
  while (open && !stopping_.load()) {
    pollfd watched[] = {{socket_.Fd(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(watched, 2, -1) < 0 && errno != EINTR) break;
    if (watched[0].revents != 0) {
      // The follower sends nothing more: anything it does send is ignored, its end is the end.
      char ignored[kReadChunk];
      if (::recv(socket_.Fd(), ignored, sizeof ignored, MSG_DONTWAIT) <= 0) break;
    }
    if (watched[1].revents == 0) continue;
    Drain(wake_.Get());
    std::deque<LogHistory::Line> lines;
    std::uint64_t dropped = 0;
    {
      MutexLock lock(queueMu_);
      lines.swap(queued_);
      dropped = std::exchange(dropped_, 0);
    }
    for (const LogHistory::Line& line : lines) {
      if (!open) break;
      open = Reply(ControlCommands::LogLine(line));
    }
    // The lines dropped came after those kept.
    if (open && dropped != 0) open = Reply({{"dropped", dropped}});
  }
  log_.Unfollow(id);
}

}  // namespace ondavox::server
