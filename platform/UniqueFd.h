#pragma once

#include <utility>

namespace ondavox {

// Owns one file descriptor (a file, an epoll instance, an eventfd, a socket) and closes it on
// destruction. Movable, not copyable. Used by one thread at a time.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  // The descriptor, -1 when none is owned.
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives up ownership without closing; returns the descriptor.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the owned descriptor, if any, and takes |fd|.
  void Reset(int fd = -1);
  // Closes the owned descriptor and reports whether the close succeeded (a write-back error
  // of a file shows here); true when none was owned.
  bool Close();

 private:
  int fd_ = -1;
};

}  // namespace ondavox
