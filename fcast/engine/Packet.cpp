#include "fcast/engine/Packet.h"

#include <isa-l/crc.h>

#include <algorithm>
#include <cstring>

namespace ondavox::fcast {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}
std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[i];
  return v;
}
std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

constexpr std::size_t kCrcOffset = 12;

void PutCommonHeader(std::uint8_t* out, PacketType type, std::uint32_t fileId) {
  Put32(out, kMagic);
  out[4] = kVersion;
  out[5] = static_cast<std::uint8_t>(type);
  Put16(out + 6, 0);
  Put32(out + 8, fileId);
  Put32(out + kCrcOffset, 0);
}

void SealCrc(std::uint8_t* out, std::size_t length) {
  Put32(out + kCrcOffset, Crc32c({out, length}));
}

// CRC of the datagram as it was before its CRC field was filled.
std::uint32_t CrcWithZeroField(std::span<const std::uint8_t> datagram) {
  static constexpr std::uint8_t kZero[4] = {0, 0, 0, 0};
  std::uint32_t crc =
      crc32_iscsi(const_cast<std::uint8_t*>(datagram.data()), kCrcOffset, 0xFFFFFFFFu);
  crc = crc32_iscsi(const_cast<std::uint8_t*>(kZero), 4, crc);
  crc = crc32_iscsi(const_cast<std::uint8_t*>(datagram.data()) + kCrcOffset + 4,
                    static_cast<int>(datagram.size() - kCrcOffset - 4), crc);
  return ~crc;
}

// The descriptor with |flags|, and room for a signature when kSigned is among them; the CRC
// field left zero.
void EncodeDescriptorFields(const DescriptorPacket& descriptor, std::uint16_t flags,
                            std::vector<std::uint8_t>& out) {
  const std::size_t nameBytes = std::min(descriptor.name.size(), kMaxNameBytes);
  const std::size_t signatureBytes = (flags & kSigned) != 0 ? kEd25519SignatureSize : 0;
  out.assign(kDescriptorFixedSize + nameBytes + signatureBytes, 0);
  std::uint8_t* p = out.data();
  PutCommonHeader(p, PacketType::kDescriptor, descriptor.fileId);
  Put64(p + 16, descriptor.fileSize);
  Put16(p + 24, descriptor.symbolSize);
  Put16(p + 26, descriptor.sourceSymbols);
  Put16(p + 28, flags);
  Put16(p + 30, static_cast<std::uint16_t>(nameBytes));
  if (descriptor.sha256) std::memcpy(p + 32, descriptor.sha256->data(), descriptor.sha256->size());
  std::memcpy(p + kDescriptorFixedSize, descriptor.name.data(), nameBytes);
}

std::uint16_t DigestFlag(const DescriptorPacket& descriptor) {
  return descriptor.sha256 ? kDigestKnown : 0;
}

}  // namespace

std::uint32_t Crc32c(std::span<const std::uint8_t> bytes) {
  return ~crc32_iscsi(const_cast<std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()),
                      0xFFFFFFFFu);
}

std::size_t EncodeSymbolInto(std::uint32_t fileId, std::uint32_t block, std::uint16_t symbolId,
                             std::span<const std::uint8_t> data, std::uint8_t* out) {
  PutCommonHeader(out, PacketType::kSymbol, fileId);
  Put32(out + 16, block);
  Put16(out + 20, symbolId);
  Put16(out + 22, 0);
  if (!data.empty()) std::memcpy(out + kSymbolHeaderSize, data.data(), data.size());
  const std::size_t length = kSymbolHeaderSize + data.size();
  SealCrc(out, length);
  return length;
}

void EncodeSymbol(std::uint32_t fileId, std::uint32_t block, std::uint16_t symbolId,
                  std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  out.resize(kSymbolHeaderSize + data.size());
  EncodeSymbolInto(fileId, block, symbolId, data, out.data());
}

void EncodeDescriptor(const DescriptorPacket& descriptor, std::vector<std::uint8_t>& out) {
  const auto flags =
      static_cast<std::uint16_t>(DigestFlag(descriptor) | (descriptor.signature ? kSigned : 0));
  EncodeDescriptorFields(descriptor, flags, out);
  if (descriptor.signature) {
    std::memcpy(out.data() + out.size() - kEd25519SignatureSize, descriptor.signature->data(),
                kEd25519SignatureSize);
  }
  SealCrc(out.data(), out.size());
}

void EncodeSignedDescriptor(const DescriptorPacket& descriptor, const Ed25519Key& key,
                            std::vector<std::uint8_t>& out) {
  EncodeDescriptorFields(descriptor, static_cast<std::uint16_t>(DigestFlag(descriptor) | kSigned),
                         out);
  const std::size_t signedBytes = out.size() - kEd25519SignatureSize;
  const Ed25519Signature signature = key.Sign({out.data(), signedBytes});
  std::memcpy(out.data() + signedBytes, signature.data(), signature.size());
  SealCrc(out.data(), out.size());
}

std::vector<std::uint8_t> SignedMessage(std::span<const std::uint8_t> datagram) {
  std::vector<std::uint8_t> message(
      datagram.begin(), datagram.end() - static_cast<std::ptrdiff_t>(kEd25519SignatureSize));
  Put32(message.data() + kCrcOffset, 0);
  return message;
}

bool VerifyDescriptor(std::span<const std::uint8_t> datagram, const DescriptorPacket& descriptor,
                      std::span<const std::uint8_t> publicKey) {
  return descriptor.signature &&
         Ed25519Verify(publicKey, SignedMessage(datagram), *descriptor.signature);
}

ParsedPacket ParsePacket(std::span<const std::uint8_t> datagram) {
  ParsedPacket result;
  const std::uint8_t* p = datagram.data();
  if (datagram.size() < kCommonHeaderSize) {
    result.error = ParseError::kTooShort;
    return result;
  }
  if (Get32(p) != kMagic) {
    result.error = ParseError::kBadMagic;
    return result;
  }
  if (p[4] != kVersion) {
    result.error = ParseError::kBadVersion;
    return result;
  }
  if (Get32(p + kCrcOffset) != CrcWithZeroField(datagram)) {
    result.error = ParseError::kBadCrc;
    return result;
  }
  if (Get16(p + 6) != 0) {  // reserved
    result.error = ParseError::kBadField;
    return result;
  }
  const std::uint32_t fileId = Get32(p + 8);
  switch (static_cast<PacketType>(p[5])) {
    case PacketType::kSymbol: {
      if (datagram.size() < kSymbolHeaderSize + kMinSymbolSize ||
          datagram.size() > kSymbolHeaderSize + kMaxSymbolSize) {
        result.error = ParseError::kBadLength;
        return result;
      }
      if (Get16(p + 22) != 0) {
        result.error = ParseError::kBadField;
        return result;
      }
      result.packet =
          SymbolPacket{fileId, Get32(p + 16), Get16(p + 20), datagram.subspan(kSymbolHeaderSize)};
      return result;
    }
    case PacketType::kDescriptor: {
      if (datagram.size() < kDescriptorFixedSize) {
        result.error = ParseError::kTooShort;
        return result;
      }
      DescriptorPacket descriptor;
      descriptor.fileId = fileId;
      descriptor.fileSize = Get64(p + 16);
      descriptor.symbolSize = Get16(p + 24);
      descriptor.sourceSymbols = Get16(p + 26);
      const std::uint16_t flags = Get16(p + 28);
      const std::size_t nameBytes = Get16(p + 30);
      Sha256Digest digest{};
      std::memcpy(digest.data(), p + 32, digest.size());
      if ((flags & kDigestKnown) != 0) descriptor.sha256 = digest;
      const std::size_t signatureBytes = (flags & kSigned) != 0 ? kEd25519SignatureSize : 0;
      if (nameBytes == 0 || nameBytes > kMaxNameBytes ||
          datagram.size() != kDescriptorFixedSize + nameBytes + signatureBytes) {
        result.error = ParseError::kBadLength;
        return result;
      }
      if (descriptor.fileSize > kMaxFileSize || descriptor.symbolSize < kMinSymbolSize ||
          descriptor.symbolSize > kMaxSymbolSize || descriptor.symbolSize % 2 != 0 ||
          descriptor.sourceSymbols < 1 || descriptor.sourceSymbols > kWideMaxSourceSymbols ||
          (flags & ~(kDigestKnown | kSigned)) != 0 ||
          (!descriptor.sha256 && digest != Sha256Digest{})) {
        result.error = ParseError::kBadField;
        return result;
      }
      if (signatureBytes != 0) {
        descriptor.signature.emplace();
        std::memcpy(descriptor.signature->data(), p + kDescriptorFixedSize + nameBytes,
                    kEd25519SignatureSize);
      }
      descriptor.name.assign(reinterpret_cast<const char*>(p + kDescriptorFixedSize), nameBytes);
      result.packet = std::move(descriptor);
      return result;
    }
  }
  result.error = ParseError::kBadType;
  return result;
}

}  // namespace ondavox::fcast
