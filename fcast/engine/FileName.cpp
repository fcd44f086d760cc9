#include "fcast/engine/FileName.h"

#include <cstdio>

namespace ondavox::fcast {

std::string SanitizeFileName(std::string_view received, std::uint32_t fileId) {
  const std::size_t slash = received.find_last_of("/\\");
  if (slash != std::string_view::npos) received.remove_prefix(slash + 1);
  std::string name;
  for (char c : received) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) continue;
    if (name.empty() && (c == '.' || c == ' ')) continue;
    name.push_back(c);
  }
  if (name.size() > kMaxFileName) {
    std::size_t cut = kMaxFileName;
    // Step back over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  if (name.empty()) {
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "fcast-%08x", fileId);
    name = fallback;
  }
  return name;
}

}  // namespace ondavox::fcast
