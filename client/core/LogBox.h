#pragma once

#include <string>

namespace ondavox::client {

// The user's event log as the client core sees it: the main view's log box, implemented by the
// window program (and by tests). ClientLog hands it finished lines, one call per line, in the
// order they were logged and never two calls at once; the box adds the line at the end, after a
// line break when it already holds text, and scrolls so the last line is in view. Called on any
// thread: a windowed box passes the line to its window thread without waiting for it (the window
// thread may itself be waiting for a network thread that is logging).
class LogBox {
 public:
  virtual ~LogBox() = default;
  virtual void AppendLine(const std::string& line) = 0;
};

}  // namespace ondavox::client
