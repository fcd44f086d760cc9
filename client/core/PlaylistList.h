#pragma once

#include <string>
#include <vector>

namespace ondavox::client {

// One row of the playlist list: the Document and Owner columns.
struct PlaylistRow {
  std::string document;
  std::string owner;
  bool operator==(const PlaylistRow&) const = default;
};

// The main view's playlist list as the client core sees it: each playlist announcement
// replaces all its rows at once, in the announcement's order. Implemented by the window program
// and by tests; called on the multicast listener thread, so a windowed list passes the rows to
// its window thread, without waiting for it.
class PlaylistList {
 public:
  virtual ~PlaylistList() = default;
  virtual void ReplaceRows(const std::vector<PlaylistRow>& rows) = 0;
};

}  // namespace ondavox::client
