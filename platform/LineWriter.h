#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/Mutex.h"

namespace ondavox {

// The bounded, non-blocking path of the diagnostic outputs (trace lines, debug text, the time-
// stamped log of the server without a window) to one file descriptor, so that a reader who
// stops reading (a paused pager, a full pipe) never holds up the caller.
//
// It owns a queue of at most kCapacity bytes and one writer thread that takes the texts in
// order and writes each with one write call (continued only when the system writes part of
// it), so texts never interleave. A text that does not fit in the queue is dropped and counted;
// the next text accepted is preceded by the line "[N lines dropped]". All signals are blocked
// in the writer thread, so it never takes a signal meant for the process.
//
// One writer per descriptor for the whole process (ForFd); it is never destroyed, and at exit
// the queued texts are written while the reader keeps taking them (see FlushAll). The
// descriptor stays owned by the caller, who keeps it open while texts may be queued.
// All functions: any thread.
class LineWriter {
 public:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  // The process's writer for |fd|, made (with its thread) at the first call for |fd|.
  static LineWriter& ForFd(int fd);
  // Waits, for every writer, as Flush(|patience|) does. Registered to run at exit.
  static void FlushAll(std::chrono::milliseconds patience);

  // Queues |text| (given whole, line feed included) without waiting on the descriptor. False
  // when it was dropped because the queue is full.
  bool Write(std::string_view text) EXCLUDES(mu_);
  // Queues the report of the lines dropped since the last one, then waits until everything
  // queued is written, giving up when the writer made no progress for |patience| (a stalled
  // reader). True when everything was written.
  bool Flush(std::chrono::milliseconds patience) EXCLUDES(mu_);

  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

 private:
  explicit LineWriter(int fd);
  ~LineWriter() = delete;

  // Queues the dropped-lines report when one is due and fits with |extra| more bytes.
  bool QueueDropReport(std::size_t extra) REQUIRES(mu_);
  void Push(std::string text) REQUIRES(mu_);
  void Run() EXCLUDES(mu_);

  const int fd_;
  Mutex mu_;
  CondVar queued_;   // signalled when a text is queued
  CondVar written_;  // signalled when a text was written
  std::deque<std::string> queue_ GUARDED_BY(mu_);
  std::size_t queuedBytes_ GUARDED_BY(mu_) = 0;
  std::uint64_t dropped_ GUARDED_BY(mu_) = 0;   // since the last report
  std::uint64_t accepted_ GUARDED_BY(mu_) = 0;  // texts queued so far
  std::uint64_t done_ GUARDED_BY(mu_) = 0;      // texts written (or failed) so far
};

}  // namespace ondavox
