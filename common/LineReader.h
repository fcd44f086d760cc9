#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace ondavox {

// Reads request and reply lines from a byte stream (a connected socket, or memory in tests),
// with one read call per buffer-full rather than per byte.
//
// Rules of a line:
// - it ends at a line feed; carriage returns are dropped wherever they stand;
// - it holds at most kMaxLine characters: a longer line yields its first kMaxLine characters
//   as one message, and the rest of it, up to and including its line feed, is discarded;
// - an empty line (or one made only of carriage returns) is no message;
// - when the stream closes, the characters of an unterminated line are still a message;
// - a read error gives no message, even after some characters of a line.
//
// Owned by the one thread that reads the connection; not thread safe. The stream itself is
// borrowed.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = 256;

  // Reads up to |capacity| bytes into |buffer|; returns how many (> 0), 0 when the stream has
  // closed, or a negative value on error.
  using ReadFn = std::function<long(char* buffer, std::size_t capacity)>;

  explicit LineReader(ReadFn read);
  // A reader over a connected socket; EINTR is retried.
  static LineReader ForSocket(int fd);

  // The next message, or nothing: the stream closed or failed before any character of a
  // line, or the line was empty. A caller treats nothing as the end of the connection.
  std::optional<std::string> ReadLine();
  // Drops the characters read from the stream but not yet returned as a message; returns how
  // many.
  std::size_t DiscardBuffered();

 private:
  // Refills the buffer; false when the stream has closed or failed (see failed_).
  bool Fill();

  static constexpr std::size_t kBufferSize = 4096;
  ReadFn read_;
  char buffer_[kBufferSize];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool failed_ = false;
  bool discarding_ = false;  // inside the tail of an over-long line
};

}  // namespace ondavox
