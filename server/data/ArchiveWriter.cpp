#include "server/data/ArchiveWriter.h"

namespace ondavox::server {

void ArchiveWriter::WriteU8(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }

void ArchiveWriter::WriteU16(uint16_t value) {
  const char little[2] = {static_cast<char>(value), static_cast<char>(value >> 8)};
  bytes_.append(little, sizeof little);
}

void ArchiveWriter::WriteU32(uint32_t value) {
  const char little[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                          static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
  bytes_.append(little, sizeof little);
}

void ArchiveWriter::WriteI32(int32_t value) { WriteU32(static_cast<uint32_t>(value)); }

void ArchiveWriter::WriteString(std::string_view text) {
  const std::size_t length = text.size();
  if (length <= archive::kMaxShortLength) {
    WriteU8(static_cast<uint8_t>(length));
  } else {
    WriteU8(archive::kLengthEscape);
    if (length <= archive::kMaxMediumLength) {
      WriteU16(static_cast<uint16_t>(length));
    } else {
      WriteU16(archive::kLongLengthEscape);
      WriteU32(static_cast<uint32_t>(length));
    }
  }
  bytes_.append(text);
}

void ArchiveWriter::WriteObjectHeader(const RecordClass& recordClass) {
  for (const auto& [name, number] : classes_) {
    if (name == recordClass.name) {
      // Class numbers stay far below 0x7FFF: one class record per record class.
      WriteU16(static_cast<uint16_t>(archive::kClassTag | number));
      ++nextNumber_;
      return;
    }
  }
  WriteU16(archive::kNewClassTag);
  WriteU16(recordClass.schema);
  WriteU16(static_cast<uint16_t>(recordClass.name.size()));
  bytes_.append(recordClass.name);
  classes_.emplace_back(recordClass.name, nextNumber_++);
  ++nextNumber_;
}

}  // namespace ondavox::server
