#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Status.h"
#include "server/app/LogHistory.h"
#include "server/app/ServerAdministration.h"

namespace ondavox::server {

class COndavoxDoc;

// The administration channel's requests (server/control/PROTOCOL.md): turns one request line
// into its reply object through ServerAdministration, so the channel applies exactly the rules
// of the dialogs. Requests it cannot take (not JSON, unknown command, a missing or mistyped
// field) get an error reply naming the problem; nothing about them reaches the server.
//
// A line is parsed once (Parse), then either answered (Handle) or, for a `log` request that
// follows the log, left to the session (FollowRequest). Used by the channel's session threads,
// any number at once: it keeps no state of its own.
class ControlCommands {
 public:
  // How the server is started and stopped: in ondavoxd through the administration directly,
  // in the window through the window's own buttons, so its state stays in step.
  struct ServerSwitch {
    std::function<Status()> start;
    std::function<Status()> stop;
  };

  ControlCommands(COndavoxDoc& document, ServerSwitch serverSwitch);

  // The request object on |line|; null, with the error reply in |error|, when the line is not
  // JSON or not an object.
  static nlohmann::json Parse(std::string_view line, nlohmann::json* error);
  // The reply to |request| (an object from Parse).
  nlohmann::json Handle(const nlohmann::json& request) const;
  // For a `log` request with "follow": true, the number of past lines it asks for; nothing for
  // any other request. The session answers such a request itself (LogReply), registering its
  // follower at the same moment, then streams the lines that come after.
  static std::optional<std::size_t> FollowRequest(const nlohmann::json& request);
  // The reply to `log`: the lines |last|.
  static nlohmann::json LogReply(const std::vector<LogHistory::Line>& last);
  // |reply| as one line, line feed included; text that is not UTF-8 is replaced, not refused.
  static std::string Serialize(const nlohmann::json& reply);
  // The reply to a request that cannot be read: {"ok": false, "error": |text|}.
  static nlohmann::json Error(std::string text);
  // One log line as the channel sends it.
  static nlohmann::json LogLine(const LogHistory::Line& line);

 private:
  nlohmann::json Dispatch(const nlohmann::json& request) const;

  COndavoxDoc& document_;
  ServerSwitch switch_;
};

}  // namespace ondavox::server
