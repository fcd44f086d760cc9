#pragma once

#include <cstdint>
#include <string_view>

namespace ondavox {

// The value of the decimal digits at the start of |text|, after optional blanks and one
// optional sign, as the programs read numbers from requests and settings files: "1550" is
// 1550, "12ab" is 12, "abc" and "" are 0. Values beyond the 32-bit range are clamped.
int32_t LenientInteger(std::string_view text);

}  // namespace ondavox
