#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace ondavox::fcast {

// The command lines of fcast-send and fcast-recv: "--name value" options from a fixed set and
// plain arguments. Used by the tools' mains.
class ToolArguments {
 public:
  // Parses argv; fails on an unknown option or a missing value.
  static StatusOr<ToolArguments> Parse(int argc, char** argv,
                                       const std::vector<std::string>& known);

  bool Has(const std::string& name) const { return options_.count(name) != 0; }
  std::string Text(const std::string& name, const std::string& fallback = "") const;
  // The option as a whole number within [low, high]; nothing when absent or invalid.
  std::optional<long long> Number(const std::string& name, long long low, long long high) const;
  const std::vector<std::string>& Plain() const { return plain_; }

 private:
  std::map<std::string, std::string> options_;
  std::vector<std::string> plain_;
};

}  // namespace ondavox::fcast
