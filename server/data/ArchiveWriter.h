#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/data/ArchiveFormat.h"

namespace ondavox::server {

// Builds the bytes of an archive (format in ArchiveFormat.h) in memory: integers, strings and
// object tags. It owns the bytes and the numbering of the classes written so far; the caller
// writes them to a file. One thread at a time.
class ArchiveWriter {
 public:
  void WriteU8(uint8_t value);
  void WriteU16(uint16_t value);
  void WriteU32(uint32_t value);
  void WriteI32(int32_t value);
  // REQUIRES: text shorter than 4 GiB.
  void WriteString(std::string_view text);
  // Writes the tag of a new object of |recordClass|: the class record the first time the class
  // appears, its class number afterwards. The object's body follows.
  void WriteObjectHeader(const RecordClass& recordClass);

  const std::string& bytes() const { return bytes_; }
  // The bytes, moved out; the writer is then empty of bytes but keeps its class numbers.
  std::string TakeBytes() { return std::move(bytes_); }
  // Makes room for |size| bytes in all, so that a large archive is not copied as it grows.
  void Reserve(std::size_t size) { bytes_.reserve(size); }

 private:
  std::string bytes_;
  // Name and number of each class written so far; its name refers to static storage.
  std::vector<std::pair<std::string_view, uint32_t>> classes_;
  uint32_t nextNumber_ = 1;
};

}  // namespace ondavox::server
