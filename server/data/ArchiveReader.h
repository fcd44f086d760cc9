#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "server/data/ArchiveFormat.h"

namespace ondavox::server {

// Reads an archive (format in ArchiveFormat.h) from bytes in memory, which the caller keeps
// alive. The first failure (bytes run out, a length beyond the end, a tag that names nothing,
// an unexpected class) is kept as a format error naming the file and the byte offset of the
// item that failed; every later read then returns zero or an empty string, so a record's
// body can be read field after field and checked once. No allocation is larger than the bytes
// that remain. One thread at a time.
class ArchiveReader {
 public:
  ArchiveReader(std::string_view bytes, std::string fileName);

  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  int32_t ReadI32();
  std::string ReadString();
  // Reads the tag of the next object and, when it introduces one, its class record, and
  // checks that a new object of |recordClass| follows. A null or back reference, a class
  // number that names nothing read so far, another class name or another schema is a format
  // error.
  void ReadObjectHeader(const RecordClass& recordClass);

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  std::size_t offset() const { return offset_; }

 private:
  // True when |count| more bytes remain; otherwise fails at the offset |start|.
  bool Need(std::size_t count, std::size_t start, const char* what);
  void Fail(std::size_t at, const std::string& reason);
  // The length prefix of a string; sets |wide| for the 16-bit-character form.
  uint32_t ReadLength(bool* wide);
  void ReadClassRecord(const RecordClass& recordClass, std::size_t start);
  void CheckClassNumber(uint32_t number, const RecordClass& recordClass, std::size_t start);

  std::string_view bytes_;
  std::string fileName_;
  std::size_t offset_ = 0;
  Status status_;
  // Everything numbered so far, from number 1: a class's name, or nothing for an object.
  std::vector<std::optional<std::string>> numbered_;
};

}  // namespace ondavox::server
