#include "fcast/tools/ToolArguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace ondavox::fcast {

StatusOr<ToolArguments> ToolArguments::Parse(int argc, char** argv,
                                             const std::vector<std::string>& known) {
  ToolArguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0 || word == "--") {
      arguments.plain_.push_back(word);
      continue;
    }
    const std::string name = word.substr(2);
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      return Status::InvalidArgument("unknown option " + word);
    }
    if (i + 1 >= argc) {
      return Status::InvalidArgument("missing value for " + word);
    }
    arguments.options_[name] = argv[++i];
  }
  return arguments;
}

std::string ToolArguments::Text(const std::string& name, const std::string& fallback) const {
  const auto it = options_.find(name);
  return it == options_.end() ? fallback : it->second;
}

std::optional<long long> ToolArguments::Number(const std::string& name, long long low,
                                               long long high) const {
  const auto it = options_.find(name);
  if (it == options_.end() || it->second.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(it->second.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace ondavox::fcast
