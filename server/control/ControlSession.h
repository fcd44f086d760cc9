#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "platform/UniqueFd.h"
#include "server/control/ControlCommands.h"

namespace ondavox::server {

// One connection of the administration channel: reads request lines (at most kMaxLine bytes),
// answers each through ControlCommands, and for `log` with follow streams the server's log lines
// until the client goes or the channel closes. A line that is too long is answered with an
// error and skipped up to its line feed; a client that sends nothing only holds its own thread.
//
// Run on the session's own thread; Stop from the channel's thread, once, before destruction.
class ControlSession {
 public:
  static constexpr std::size_t kMaxLine = 64 * 1024;
  // Log lines kept for a follower who does not read; beyond them lines are dropped and counted.
  static constexpr std::size_t kMaxQueuedLines = 4096;

  ControlSession(Socket socket, const ControlCommands& commands, LogHistory& log);
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  void Run();
  // Wakes Run and makes it return: shuts the connection down. Any thread.
  void Stop();
  // True once Run has returned. Any thread.
  bool finished() const { return finished_.load(); }

 private:
  // The next complete request line; nothing once the connection ended or Stop was called.
  std::optional<std::string> ReadLine();
  bool Reply(const nlohmann::json& reply);
  // Streams the log from now on: |pastLines| already written lines first.
  void Follow(std::size_t pastLines) EXCLUDES(queueMu_);
  // Queues a line for the follower (LogHistory's thread): never waits.
  void Queue(const LogHistory::Line& line) EXCLUDES(queueMu_);

  const Socket socket_;
  const ControlCommands& commands_;
  LogHistory& log_;
  const UniqueFd wake_;  // an eventfd: a line was queued, or Stop
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{false};

  // Used by Run's thread only.
  std::string buffer_;
  bool discarding_ = false;  // inside the rest of a line that was too long

  Mutex queueMu_;
  std::deque<LogHistory::Line> queued_ GUARDED_BY(queueMu_);
  std::uint64_t dropped_ GUARDED_BY(queueMu_) = 0;
};

}  // namespace ondavox::server
