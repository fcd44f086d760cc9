#pragma once

#include <string_view>

namespace ondavox::server {

// Where the server document writes its log lines: the control window's log box, or the standard
// output of the server without a window. Each call is one whole line, given without its line
// break. Called from any thread (the window thread, a client connection thread, the Fcast
// sender thread); the document calls it under its own lock, so the lines arrive in the order
// the document produced them and implementations must keep that order.
class ServerLog {
 public:
  virtual ~ServerLog() = default;
  virtual void AppendLog(std::string_view line) = 0;
};

// An open dialog the document asks to reload its lists after an event (the users dialog, the
// playlist dialog). RequestRefresh is called from any thread, possibly under the document's
// lock: it must only schedule the refresh on the dialog's own thread, never do it there.
class RefreshTarget {
 public:
  virtual ~RefreshTarget() = default;
  virtual void RequestRefresh() = 0;
};

}  // namespace ondavox::server
