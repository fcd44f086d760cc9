#include "server/data/Playlist.h"

#include <cstdint>
#include <iterator>

namespace ondavox::server {

Playlist::Entries::iterator Playlist::At(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return entries_.end();
  return std::next(entries_.begin(), index);
}

Playlist::Entries::const_iterator Playlist::At(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return entries_.end();
  return std::next(entries_.begin(), index);
}

void Playlist::Recount() {
  count_.store(static_cast<int>(entries_.size()), std::memory_order_release);
}

void Playlist::AddTail(const CDocInfo& document) {
  MutexLock lock(mu_);
  entries_.push_back(document);
  Recount();
}

std::optional<CDocInfo> Playlist::GetHead() const { return GetAt(0); }

std::optional<CDocInfo> Playlist::GetAt(int index) const {
  MutexLock lock(mu_);
  const auto entry = At(index);
  if (entry == entries_.end()) return std::nullopt;
  return *entry;
}

int Playlist::RemoveAt(int index) {
  MutexLock lock(mu_);
  const auto entry = At(index);
  if (entry == entries_.end()) return 0;
  entries_.erase(entry);
  Recount();
  return 1;
}

std::optional<int> Playlist::Move(int index, int step) {
  MutexLock lock(mu_);
  const auto entry = At(index);
  if (entry == entries_.end()) return std::nullopt;
  // Unlink the entry, then put it back after the entry at target - 1, clamped to the ends.
  Entries moved;
  moved.splice(moved.end(), entries_, entry);
  const int64_t target = int64_t{index} - step;
  const auto count = static_cast<int64_t>(entries_.size());
  int result;
  if (target <= 0) {
    result = 0;
  } else if (target > count) {
    result = static_cast<int>(count);
  } else {
    result = static_cast<int>(target);
  }
  entries_.splice(std::next(entries_.begin(), result), moved);
  return result;
}

}  // namespace ondavox::server
