#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondavox::fcast {

// Reduces a file name received from the network to a plain name that can only name a file
// directly inside the download folder: the part after the last '/' or '\', without control
// characters, without leading dots or spaces (so never "." nor ".." nor a hidden or temporary
// name of the receiver), at most kMaxFileName bytes cut on a UTF-8 character boundary. An
// empty result becomes "fcast-" followed by the file id in hex. Pure; any thread.
inline constexpr std::size_t kMaxFileName = 200;

std::string SanitizeFileName(std::string_view received, std::uint32_t fileId);

}  // namespace ondavox::fcast
