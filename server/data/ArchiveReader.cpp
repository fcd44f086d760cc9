#include "server/data/ArchiveReader.h"

namespace ondavox::server {

ArchiveReader::ArchiveReader(std::string_view bytes, std::string fileName)
    : bytes_(bytes), fileName_(std::move(fileName)) {}

void ArchiveReader::Fail(std::size_t at, const std::string& reason) {
  if (ok()) status_ = Status::FormatError(fileName_, at, reason);
}

bool ArchiveReader::Need(std::size_t count, std::size_t start, const char* what) {
  if (!ok()) return false;
  if (bytes_.size() - offset_ >= count) return true;
  Fail(start, std::string("the file ends inside ") + what);
  return false;
}

uint8_t ArchiveReader::ReadU8() {
  if (!Need(1, offset_, "a byte")) return 0;
  return static_cast<uint8_t>(bytes_[offset_++]);
}

uint16_t ArchiveReader::ReadU16() {
  if (!Need(2, offset_, "a 16-bit integer")) return 0;
  const auto low = static_cast<uint8_t>(bytes_[offset_]);
  const auto high = static_cast<uint8_t>(bytes_[offset_ + 1]);
  offset_ += 2;
  return static_cast<uint16_t>(low | (high << 8));
}

uint32_t ArchiveReader::ReadU32() {
  if (!Need(4, offset_, "a 32-bit integer")) return 0;
  const uint32_t low = ReadU16();
  const uint32_t high = ReadU16();
  return low | (high << 16);
}

int32_t ArchiveReader::ReadI32() { return static_cast<int32_t>(ReadU32()); }

uint32_t ArchiveReader::ReadLength(bool* wide) {
  const uint8_t shortLength = ReadU8();
  if (shortLength != archive::kLengthEscape) return shortLength;
  uint16_t mediumLength = ReadU16();
  if (mediumLength == archive::kWideStringMarker) {
    *wide = true;
    // The length starts over in the same encoding; a second marker reads as the long form.
    const uint8_t wideShort = ReadU8();
    if (wideShort != archive::kLengthEscape) return wideShort;
    mediumLength = ReadU16();
  }
  if (mediumLength < archive::kWideStringMarker) return mediumLength;
  return ReadU32();
}

std::string ArchiveReader::ReadString() {
  if (!ok()) return {};
  const std::size_t start = offset_;
  bool wide = false;
  const uint32_t length = ReadLength(&wide);
  if (!ok()) {
    // Name the start of the string rather than the part of its prefix that is missing.
    status_ = Status::FormatError(fileName_, start, "the file ends inside a string");
    return {};
  }
  const std::size_t byteCount = wide ? std::size_t{length} * 2 : length;
  if (!Need(byteCount, start, "a string")) return {};
  std::string text;
  if (wide) {
    text.reserve(length);
    for (uint32_t i = 0; i < length; ++i) {
      const uint16_t c = ReadU16();
      text.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
  } else {
    text.assign(bytes_.substr(offset_, byteCount));
    offset_ += byteCount;
  }
  return text;
}

void ArchiveReader::ReadClassRecord(const RecordClass& recordClass, std::size_t start) {
  const uint16_t schema = ReadU16();
  const uint16_t nameLength = ReadU16();
  if (!ok()) return;
  if (nameLength > archive::kMaxClassNameLength) {
    Fail(start, "class name of " + std::to_string(nameLength) + " bytes");
    return;
  }
  if (!Need(nameLength, start, "a class record")) return;
  const std::string name(bytes_.substr(offset_, nameLength));
  offset_ += nameLength;
  if (name != recordClass.name) {
    Fail(start, "class " + name + " where " + std::string(recordClass.name) + " was expected");
  } else if (schema != recordClass.schema) {
    Fail(start, "schema " + std::to_string(schema) + " of class " + name + " where " +
                    std::to_string(recordClass.schema) + " was expected");
  } else {
    numbered_.emplace_back(name);
  }
}

void ArchiveReader::CheckClassNumber(uint32_t number, const RecordClass& recordClass,
                                     std::size_t start) {
  if (number == 0 || number > numbered_.size() || !numbered_[number - 1]) {
    Fail(start, "class number " + std::to_string(number) + " names no class read so far");
  } else if (*numbered_[number - 1] != recordClass.name) {
    Fail(start, "class " + *numbered_[number - 1] + " where " + std::string(recordClass.name) +
                    " was expected");
  }
}

void ArchiveReader::ReadObjectHeader(const RecordClass& recordClass) {
  const std::size_t start = offset_;
  const uint16_t tag = ReadU16();
  if (!ok()) return;
  if (tag == archive::kNewClassTag) {
    ReadClassRecord(recordClass, start);
  } else {
    uint32_t bigTag = tag;
    if (tag == archive::kBigObjectTag) {
      bigTag = ReadU32();
    } else if (tag & archive::kClassTag) {
      bigTag = archive::kBigClassTag | (tag & ~archive::kClassTag);
    }
    if (!ok()) return;
    if (bigTag & archive::kBigClassTag) {
      CheckClassNumber(bigTag & ~archive::kBigClassTag, recordClass, start);
    } else if (bigTag == archive::kNullTag) {
      Fail(start, "a null reference in place of a record");
    } else if (bigTag <= numbered_.size() && !numbered_[bigTag - 1]) {
      Fail(start,
           "a reference to record number " + std::to_string(bigTag) + " in place of a new record");
    } else {
      Fail(start, "tag " + std::to_string(bigTag) + " names nothing read so far");
    }
  }
  if (ok()) numbered_.emplace_back(std::nullopt);
}

}  // namespace ondavox::server
