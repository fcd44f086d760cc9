#pragma once

#include <string>

namespace ondavox::client {

// The main view's Infos box as the client core sees it: the TCP session thread replaces its
// whole text with each information text the server returns (line breaks as carriage return and
// line feed). Implemented by the window program and by tests; called on the session thread, so a
// windowed box passes the text to its window thread, without waiting for it.
class InfosBox {
 public:
  virtual ~InfosBox() = default;
  virtual void SetText(const std::string& text) = 0;
};

}  // namespace ondavox::client
