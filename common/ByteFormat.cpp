#include "common/ByteFormat.h"

#include <algorithm>
#include <cstdio>

namespace ondavox {

std::string ByteCountText(double bytes) {
  static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
  bytes = std::max(bytes, 0.0);
  char text[32];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
  }
  int unit = 0;
  bytes /= 1000;
  // Rounded to one decimal, 999.96 kB reads as 1.0 MB rather than 1000.0 kB.
  while (bytes >= 999.95 && unit + 1 < static_cast<int>(std::size(kUnits))) {
    bytes /= 1000;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string ByteRateText(double bytesPerSecond) { return ByteCountText(bytesPerSecond) + "/s"; }

}  // namespace ondavox
