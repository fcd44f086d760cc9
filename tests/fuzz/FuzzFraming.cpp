// Feeds arbitrary bytes, in reads of arbitrary sizes, to the line reader and checks every
// message against a byte-at-a-time model of the framing rules; then splits and joins each
// message and checks that the fields rebuild it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/LineReader.h"
#include "common/MavoraProtocol.h"

namespace {

using ondavox::LineReader;

// The framing rules, one byte at a time, over the whole input.
std::vector<std::optional<std::string>> ModelMessages(const std::string& bytes) {
  std::vector<std::optional<std::string>> out;
  std::string line;
  bool discarding = false;
  for (char c : bytes) {
    if (c == '\n') {
      if (!discarding) out.push_back(line.empty() ? std::nullopt : std::optional(line));
      line.clear();
      discarding = false;
    } else if (c == '\r' || discarding) {
      continue;
    } else if (line.size() == LineReader::kMaxLine) {
      out.push_back(line);
      line.clear();
      discarding = true;
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) out.push_back(line);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the size of the reads.
  const std::size_t chunk = 1 + data[0] % 64;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  std::size_t offset = 0;
  LineReader reader([&](char* buffer, std::size_t capacity) -> long {
    const std::size_t n = std::min({chunk, capacity, bytes.size() - offset});
    std::memcpy(buffer, bytes.data() + offset, n);
    offset += n;
    return static_cast<long>(n);
  });

  const std::vector<std::optional<std::string>> expected = ModelMessages(bytes);
  const ondavox::MavoraProtocol protocol;
  for (const std::optional<std::string>& want : expected) {
    const std::optional<std::string> got = reader.ReadLine();
    if (got != want) std::abort();
    if (!got) continue;
    if (got->size() > LineReader::kMaxLine || got->find_first_of("\r\n") != std::string::npos) std::abort();
    const auto fields = protocol.extractParams(*got);
    if (fields.empty()) std::abort();
    std::string rebuilt = protocol.joinParams(fields);
    // Only a final empty remainder is dropped by the split: a trailing separator.
    if (rebuilt != *got && rebuilt + protocol.separator() != *got) std::abort();
  }
  if (reader.ReadLine()) std::abort();
  return 0;
}
