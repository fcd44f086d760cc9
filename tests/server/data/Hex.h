#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

namespace ondavox::test {

// The bytes written as hexadecimal pairs separated by blanks: "01 00 FF FF".
inline std::string Hex(std::string_view pairs) {
  std::string bytes;
  std::istringstream in{std::string(pairs)};
  std::string pair;
  while (in >> pair) bytes.push_back(static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16)));
  return bytes;
}

}  // namespace ondavox::test
