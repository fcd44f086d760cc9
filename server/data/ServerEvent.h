#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondavox::server {

// The event codes the server posts (see ServerEvent).
enum ServerEventCode : int32_t {
  USER_NEW = 1,
  USER_DEL = 2,
  USER_ONLINE = 3,
  USER_OFFLINE = 4,
  DOC_NEW = 5,
  DOC_DEL = 6,
  DOC_START = 7,
  DOC_STOP = 8,
  PLAYLIST_UPDATED = 13,
  LOG_FAILURE = 70,
  LOG_INFO = 71,
};

// Something that happened in the server, reported to the runner's listeners: an event code
// and its texts (none or one in practice). Created by its poster (the command interpreter, the
// Fcast sender) with everything filled in, read by the listeners while PostEvent runs, then
// destroyed by the poster. Immutable; any thread.
class ServerEvent {
 public:
  explicit ServerEvent(int32_t code, std::vector<std::string> params = {})
      : code_(code), params_(std::move(params)) {}

  // "USER_NEW" to "DOC_STOP" for the codes 1 to 8, "ERROR" for any other code.
  std::string_view GetName() const;
  int32_t GetType() const { return code_; }
  const std::vector<std::string>& GetParams() const { return params_; }
  // The text at |index|, or an empty text when there is none.
  const std::string& GetParam(int index) const;
  int32_t GetParamCount() const { return static_cast<int32_t>(params_.size()); }

 private:
  int32_t code_;
  std::vector<std::string> params_;
};

}  // namespace ondavox::server
