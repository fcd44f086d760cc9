#pragma once

#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Mutex.h"

namespace ondavox::server {

// The server log's recent past and its live readers: the document hands it every line it logs;
// it keeps the last kKept lines with their local time and passes each new one to every
// follower (the administration channel's `log --follow` and `status`).
//
// Any thread. Followers are called under the history's lock, in log order: they must only
// queue the line, never wait on a reader.
class LogHistory {
 public:
  struct Line {
    std::string time;  // local time, "YYYY-MM-DD HH:MM:SS"
    std::string text;
  };
  using Follower = std::function<void(const Line&)>;
  static constexpr std::size_t kKept = 200;

  // "YYYY-MM-DD HH:MM:SS" for |when| in local time.
  static std::string LocalTime(std::time_t when);

  void Add(std::string_view text, std::time_t when) EXCLUDES(mu_);
  // The last |count| lines (at most kKept), oldest first.
  std::vector<Line> Last(std::size_t count) const EXCLUDES(mu_);
  // Registers |follower| and returns its id, with the last |count| lines at that moment in
  // |last|, so that no line is missed or seen twice.
  int Follow(Follower follower, std::size_t count, std::vector<Line>* last) EXCLUDES(mu_);
  void Unfollow(int id) EXCLUDES(mu_);

 private:
  std::vector<Line> LastLocked(std::size_t count) const REQUIRES(mu_);

  mutable Mutex mu_;
  std::deque<Line> lines_ GUARDED_BY(mu_);
  std::map<int, Follower> followers_ GUARDED_BY(mu_);
  int nextId_ GUARDED_BY(mu_) = 0;
};

}  // namespace ondavox::server
