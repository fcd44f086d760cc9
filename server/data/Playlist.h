#pragma once

#include <atomic>
#include <list>
#include <optional>

#include "platform/Mutex.h"
#include "server/data/CDocInfo.h"

namespace ondavox::server {

// The ordered queue of documents the server is to broadcast, first entry first. Entries are
// copies: later changes to the document database do not reach them. Lives only in memory.
// Owned by the server runner; used by the playlist dialog (window thread), the Fcast sender
// thread and the threads that announce the playlist.
//
// Any thread: each operation is atomic under the playlist's own mutex (GetCount reads a
// counter without waiting for it). A sequence of operations is not atomic, so an index that
// was checked before a call may name no entry by the time of the call: such calls report the
// missing entry (nullopt, 0) and change nothing.
class Playlist {
 public:
  // Indexes count from 0 at the first entry.
  int GetCount() const { return count_.load(std::memory_order_acquire); }

  void AddTail(const CDocInfo& document) EXCLUDES(mu_);
  // A copy of the first entry; nullopt when the playlist is empty.
  std::optional<CDocInfo> GetHead() const EXCLUDES(mu_);
  // A copy of the entry at |index|; nullopt when there is none.
  std::optional<CDocInfo> GetAt(int index) const EXCLUDES(mu_);
  // Removes the entry at |index| and returns 1; returns 0 and changes nothing when |index| is
  // negative or not below the count.
  int RemoveAt(int index) EXCLUDES(mu_);
  // Moves the entry at |index| |step| places towards the head (a negative step moves it
  // towards the tail), stopping at either end, and returns its new index; nullopt, with no
  // change, when |index| names no entry.
  std::optional<int> Move(int index, int step) EXCLUDES(mu_);

 private:
  using Entries = std::list<CDocInfo>;
  // The entry at |index|, or end() when there is none.
  Entries::iterator At(int index) REQUIRES(mu_);
  Entries::const_iterator At(int index) const REQUIRES(mu_);
  void Recount() REQUIRES(mu_);

  mutable Mutex mu_;
  Entries entries_ GUARDED_BY(mu_);
  // entries_.size(), written under mu_ and read without it.
  std::atomic<int> count_{0};
};

}  // namespace ondavox::server
