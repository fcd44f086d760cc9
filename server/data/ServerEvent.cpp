#include "server/data/ServerEvent.h"

#include <array>

namespace ondavox::server {

std::string_view ServerEvent::GetName() const {
  static constexpr std::array<std::string_view, 8> kNames = {
      "USER_NEW", "USER_DEL", "USER_ONLINE", "USER_OFFLINE",
      "DOC_NEW",  "DOC_DEL",  "DOC_START",   "DOC_STOP"};
  if (code_ >= USER_NEW && code_ <= DOC_STOP) return kNames[static_cast<std::size_t>(code_ - 1)];
  return "ERROR";
}

const std::string& ServerEvent::GetParam(int index) const {
  static const std::string kNone;
  if (index < 0 || static_cast<std::size_t>(index) >= params_.size()) return kNone;
  return params_[static_cast<std::size_t>(index)];
}

}  // namespace ondavox::server
