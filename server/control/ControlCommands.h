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
// A `log` request that follows the log is the session's (see FollowRequest). Used by the channel's session threads, any number at
// once: it keeps no state of its own.
class ControlCommands {
 public:
  // How the server is started and stopped: in ondavoxd through the administration directly,
  // in the window through the window's own buttons, so its state stays in step.
  struct ServerSwitch {
    std::function<Status()> start;
    std::function<Status()> stop;
  };

  ControlCommands(COndavoxDoc& document, ServerSwitch serverSwitch);

  // The reply to |line|.
  nlohmann::json Handle(std::string_view line) const;
  // For a `log` request with "follow": true, the number of past lines it asks for; nothing for
  // any other line. The session answers such a request itself (LogReply), registering its
  // follower at the same moment, then streams the lines that come after.
  static std::optional<std::size_t> FollowRequest(std::string_view line);
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
