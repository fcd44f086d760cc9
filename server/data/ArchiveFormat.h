#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ondavox::server {

// The byte format of the user and document database files and of the server's document file,
// written down once for ArchiveWriter and ArchiveReader. It is a plain stream with no header of
// its own; every integer is little-endian.
//
// Strings: a length prefix, then the characters as single bytes, no terminator.
//   length < 255             one byte holding the length
//   255 <= length < 65534    0xFF, then the length as u16
//   length >= 65534          0xFF, u16 0xFFFF, then the length as u32
// Readers also accept 0xFF, u16 0xFFFE, then a length in the same encoding that counts 16-bit
// characters; a character above 0xFF reads as '?'. Writers never produce that form.
//
// Objects: a u16 tag, then, for a new object, its body.
//   0xFFFF       a class record follows (schema u16, name length u16 below 64, the name),
//                then the body of an object of that class
//   0x8000 + n   the body of an object of class number n follows
//   0x7FFF       a u32 tag follows, with the class bit 0x80000000 in place of 0x8000
//   0            a null reference
//   any other n  a reference back to object number n
// Classes and objects share one numbering, in stream order, starting at 1.
namespace archive {

inline constexpr uint16_t kNewClassTag = 0xFFFF;
inline constexpr uint16_t kClassTag = 0x8000;
inline constexpr uint16_t kBigObjectTag = 0x7FFF;
inline constexpr uint32_t kBigClassTag = 0x80000000;
inline constexpr uint32_t kNullTag = 0;
inline constexpr std::size_t kMaxClassNameLength = 63;

inline constexpr uint8_t kLengthEscape = 0xFF;
inline constexpr uint16_t kWideStringMarker = 0xFFFE;
inline constexpr uint16_t kLongLengthEscape = 0xFFFF;
inline constexpr std::size_t kMaxShortLength = 0xFE;
inline constexpr std::size_t kMaxMediumLength = 0xFFFD;

}  // namespace archive

// The run-time class of a stored record: the name and schema its class record carries.
struct RecordClass {
  std::string_view name;
  uint16_t schema;
};

}  // namespace ondavox::server
