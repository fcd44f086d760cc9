#pragma once

#include <string>

namespace ondavox {

// Byte counts and rates as the windows and the console show them: decimal units, one decimal
// from kB up ("950 B", "1.8 MB", "2.0 GB"; "1.8 MB/s"). Negative values count as 0. Any thread.
std::string ByteCountText(double bytes);
std::string ByteRateText(double bytesPerSecond);

}  // namespace ondavox
