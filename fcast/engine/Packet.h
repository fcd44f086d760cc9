#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "fcast/code/WideCode.h"
#include "fcast/engine/Ed25519.h"
#include "fcast/engine/Sha256Digest.h"

namespace ondavox::fcast {

// The datagrams of a transfer, written down once for the sender, the receiver, the tests and
// the fuzz target. Every integer is big-endian. Every packet starts with a common header:
//
//   offset  size  field
//        0     4  magic "FCST"
//        4     1  version (kVersion)
//        5     1  type (PacketType)
//        6     2  reserved, zero
//        8     4  file id (chosen at random by the sender for each file it sends)
//       12     4  CRC32C of the whole datagram, computed with this field zero
//
// A symbol packet follows with: block number (4), symbol id within the block (2, any value:
// the WideCode id, below the block's source count for file data, from the block's stride on
// for repair), reserved (2), then the symbol's bytes (exactly the descriptor's symbol size; the
// file's last symbol is padded with zeros).
//
// A descriptor packet follows with: file size (8), symbol size (2, even), source symbols per
// block k (2, 1 to kWideMaxSourceSymbols), flags (2), name length (2), the file's digest (32,
// FileDigest: a digest of its symbols' digests), then the name's bytes (UTF-8 as sent, 1 to
// kMaxNameBytes bytes, not yet sanitised), then, when flag kSigned is set, the sender's Ed25519
// signature (64). The signature covers every byte of the descriptor before it, the CRC field
// taken as zero: magic, version, type, reserved, file id, file size, symbol size, k, flags
// (kSigned included), name length, digest and name (SignedMessage). The CRC covers the
// signature too.
// The sender starts sending while it still hashes the file: until it knows the digest, its
// descriptors leave flag kDigestKnown clear and the digest field zero. No other flag than these
// two is defined.
//
// Parsing checks everything a receiver relies on before it allocates or writes anything:
// length, magic, version, CRC and every field's range; reserved bytes must be zero, so that a
// datagram accepted is exactly the one its fields encode. Pure functions; any thread.

inline constexpr std::uint32_t kMagic = 0x46435354;  // "FCST"
inline constexpr std::uint8_t kVersion = 5;
// Descriptor flags.
inline constexpr std::uint16_t kDigestKnown = 1;
inline constexpr std::uint16_t kSigned = 2;
inline constexpr std::size_t kCommonHeaderSize = 16;
inline constexpr std::size_t kSymbolHeaderSize = kCommonHeaderSize + 8;
inline constexpr std::size_t kDescriptorFixedSize = kCommonHeaderSize + 48;
inline constexpr std::size_t kMaxNameBytes = 255;
// Symbol size used by the sender: the datagram fills a standard Ethernet payload.
inline constexpr std::size_t kDefaultSymbolSize = 1400;
// Symbol sizes are even: a symbol is a whole number of GF(2^16) elements.
inline constexpr std::size_t kMinSymbolSize = 16;
inline constexpr std::size_t kMaxSymbolSize = 1448;
inline constexpr std::size_t kMaxDatagram = kSymbolHeaderSize + kMaxSymbolSize;
// Largest file a descriptor may announce (16 TiB).
inline constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 44;

enum class PacketType : std::uint8_t { kSymbol = 1, kDescriptor = 2 };

struct SymbolPacket {
  std::uint32_t fileId = 0;
  std::uint32_t block = 0;
  std::uint16_t symbolId = 0;
  std::span<const std::uint8_t> data;  // borrowed from the parsed datagram
};

struct DescriptorPacket {
  std::uint32_t fileId = 0;
  std::uint64_t fileSize = 0;
  std::uint16_t symbolSize = 0;
  std::uint16_t sourceSymbols = 0;  // k
  std::optional<Sha256Digest> sha256;  // FileDigest; nothing while the sender still hashes
  std::string name;
  // The sender's signature of the descriptor's SignedMessage; nothing for an unsigned one.
  std::optional<Ed25519Signature> signature;
};

enum class ParseError {
  kNone,
  kTooShort,
  kBadMagic,
  kBadVersion,
  kBadType,
  kBadCrc,
  kBadLength,
  kBadField,
};

struct ParsedPacket {
  ParseError error = ParseError::kNone;
  std::variant<std::monostate, SymbolPacket, DescriptorPacket> packet;
};

// CRC32C (Castagnoli) of |bytes|.
std::uint32_t Crc32c(std::span<const std::uint8_t> bytes);

// Writes a symbol packet into |out| (resized to the datagram's length).
void EncodeSymbol(std::uint32_t fileId, std::uint32_t block, std::uint16_t symbolId,
                  std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);
// Same, into a caller's buffer of at least kSymbolHeaderSize + data.size() bytes; returns the
// datagram's length.
std::size_t EncodeSymbolInto(std::uint32_t fileId, std::uint32_t block, std::uint16_t symbolId,
                             std::span<const std::uint8_t> data, std::uint8_t* out);
// Writes a descriptor packet, with its signature when it has one; a name longer than
// kMaxNameBytes is cut.
void EncodeDescriptor(const DescriptorPacket& descriptor, std::vector<std::uint8_t>& out);
// Same, signed with |key| (the descriptor's own signature, if any, is not used).
void EncodeSignedDescriptor(const DescriptorPacket& descriptor, const Ed25519Key& key,
                            std::vector<std::uint8_t>& out);
// What the signature of the signed descriptor |datagram| covers: its bytes before the
// signature, the CRC field zero. REQUIRES: ParsePacket(datagram) gave a signed descriptor.
std::vector<std::uint8_t> SignedMessage(std::span<const std::uint8_t> datagram);
// True when the signed descriptor |datagram| (parsed as |descriptor|) carries |publicKey|'s
// signature. About 50 to 100 us.
bool VerifyDescriptor(std::span<const std::uint8_t> datagram, const DescriptorPacket& descriptor,
                      std::span<const std::uint8_t> publicKey);

// Checks and decodes one datagram. Symbol ranges that depend on the file's layout (block
// number, data length against the symbol size) are checked by the receiver, which knows the
// layout.
ParsedPacket ParsePacket(std::span<const std::uint8_t> datagram);

}  // namespace ondavox::fcast
