#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Packet.h"

namespace ondavox::fcast {
namespace {

DescriptorPacket SampleDescriptor() {
  DescriptorPacket d;
  d.fileId = 0xA1B2C3D4;
  d.fileSize = 5'000'000'000ull;
  d.symbolSize = 1400;
  d.sourceSymbols = 16384;
  d.sha256.emplace();
  for (std::size_t i = 0; i < d.sha256->size(); ++i)
    (*d.sha256)[i] = static_cast<std::uint8_t>(i * 7);
  d.name = "song.mp3";
  return d;
}

// Writes the CRC again after a field was changed on purpose.
void Reseal(std::vector<std::uint8_t>& datagram) {
  std::memset(&datagram[12], 0, 4);
  const std::uint32_t crc = Crc32c(datagram);
  for (int i = 0; i < 4; ++i) datagram[12 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
}

TEST(FcastPacket, Crc32cIsTheCastagnoliCheckValue) {
  const char check[] = "123456789";
  EXPECT_EQ(Crc32c({reinterpret_cast<const std::uint8_t*>(check), 9}), 0xE3069283u);
}

TEST(FcastPacket, SymbolAndDescriptorRoundTripWithTheDocumentedLayout) {
  std::vector<std::uint8_t> data(1400);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> bytes;
  EncodeSymbol(77, 123456, 65535, data, bytes);
  ASSERT_EQ(bytes.size(), kSymbolHeaderSize + 1400);
  EXPECT_EQ(std::memcmp(bytes.data(), "FCST", 4), 0);
  EXPECT_EQ(bytes[4], kVersion);
  EXPECT_EQ(bytes[5], 1);
  EXPECT_EQ(bytes[11], 77);
  EXPECT_EQ(bytes[16] << 24 | bytes[17] << 16 | bytes[18] << 8 | bytes[19], 123456);
  ParsedPacket parsed = ParsePacket(bytes);
  ASSERT_EQ(parsed.error, ParseError::kNone);
  const auto& symbol = std::get<SymbolPacket>(parsed.packet);
  EXPECT_EQ(symbol.fileId, 77u);
  EXPECT_EQ(symbol.block, 123456u);
  EXPECT_EQ(symbol.symbolId, 65535);
  EXPECT_TRUE(std::equal(symbol.data.begin(), symbol.data.end(), data.begin(), data.end()));

  const DescriptorPacket sent = SampleDescriptor();
  EncodeDescriptor(sent, bytes);
  ASSERT_EQ(bytes.size(), kDescriptorFixedSize + sent.name.size());
  parsed = ParsePacket(bytes);
  ASSERT_EQ(parsed.error, ParseError::kNone);
  const auto& got = std::get<DescriptorPacket>(parsed.packet);
  EXPECT_EQ(got.fileId, sent.fileId);
  EXPECT_EQ(got.fileSize, sent.fileSize);
  EXPECT_EQ(got.symbolSize, sent.symbolSize);
  EXPECT_EQ(got.sourceSymbols, sent.sourceSymbols);
  EXPECT_EQ(got.sha256, sent.sha256);
  EXPECT_EQ(got.name, sent.name);
  EXPECT_EQ(bytes[26] << 8 | bytes[27], 16384);
  EXPECT_EQ(bytes[29], kDigestKnown);
  EXPECT_EQ(bytes[31], sent.name.size());
  EXPECT_EQ(bytes[33], 7);
  EXPECT_EQ(std::memcmp(&bytes[64], "song.mp3", 8), 0);

  // Before the sender knows the digest: flag clear, field zero, and nothing parsed from it.
  DescriptorPacket early = sent;
  early.sha256.reset();
  EncodeDescriptor(early, bytes);
  EXPECT_EQ(bytes[29], 0);
  EXPECT_TRUE(std::all_of(&bytes[32], &bytes[64], [](std::uint8_t b) { return b == 0; }));
  parsed = ParsePacket(bytes);
  ASSERT_EQ(parsed.error, ParseError::kNone);
  EXPECT_FALSE(std::get<DescriptorPacket>(parsed.packet).sha256);
}

TEST(FcastPacket, EveryCorruptedByteIsCaught) {
  std::vector<std::uint8_t> good;
  EncodeDescriptor(SampleDescriptor(), good);
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::vector<std::uint8_t> bad = good;
    bad[i] ^= 0x10;
    EXPECT_NE(ParsePacket(bad).error, ParseError::kNone) << "byte " << i;
  }
  std::vector<std::uint8_t> bad = good;
  bad[40] ^= 1;
  EXPECT_EQ(ParsePacket(bad).error, ParseError::kBadCrc);
}

TEST(FcastPacket, RejectsMalformedAndOutOfRangePackets) {
  std::vector<std::uint8_t> bytes;
  EncodeDescriptor(SampleDescriptor(), bytes);
  const auto withChange = [&](auto change) {
    std::vector<std::uint8_t> copy = bytes;
    change(copy);
    Reseal(copy);
    return ParsePacket(copy).error;
  };
  EXPECT_EQ(ParsePacket(std::span(bytes).first(15)).error, ParseError::kTooShort);
  EXPECT_EQ(ParsePacket({}).error, ParseError::kTooShort);
  EXPECT_EQ(withChange([](auto& b) { b[0] = 'X'; }), ParseError::kBadMagic);
  EXPECT_EQ(withChange([](auto& b) { b[4] = kVersion - 1; }), ParseError::kBadVersion);
  EXPECT_EQ(withChange([](auto& b) { b[5] = 9; }), ParseError::kBadType);
  EXPECT_EQ(withChange([](auto& b) { b.resize(60); }), ParseError::kTooShort);
  // Name length: zero, or not the datagram's rest.
  EXPECT_EQ(withChange([](auto& b) {
              b[30] = 0;
              b[31] = 0;
            }),
            ParseError::kBadLength);
  EXPECT_EQ(withChange([](auto& b) { b[31] += 1; }), ParseError::kBadLength);
  EXPECT_EQ(withChange([](auto& b) { b.push_back('x'); }), ParseError::kBadLength);
  // Absurd size; symbol size out of range or odd; k of zero or above the code's most.
  EXPECT_EQ(withChange([](auto& b) { b[16] = 0xFF; }), ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) {
              b[24] = 0;
              b[25] = 8;
            }),
            ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) {
              b[24] = 0x10;
              b[25] = 0;
            }),
            ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) { b[25] += 1; }), ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) {
              b[26] = 0;
              b[27] = 0;
            }),
            ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) { b[27] = 1; }), ParseError::kBadField);  // 16385
  EXPECT_EQ(withChange([](auto& b) {
              b[26] = 0;
              b[27] = 1;
            }),
            ParseError::kNone);
  // Reserved bytes that are not zero; a flag this version does not know; a digest without
  // its flag.
  EXPECT_EQ(withChange([](auto& b) { b[7] = 1; }), ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) { b[29] |= 4; }), ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) { b[29] = 0; }), ParseError::kBadField);

  std::vector<std::uint8_t> data(100);
  EncodeSymbol(1, 0, 254, data, bytes);
  EXPECT_EQ(withChange([](auto& b) { b[23] = 1; }), ParseError::kBadField);
  EXPECT_EQ(withChange([](auto& b) { b[5] = 3; }), ParseError::kBadType);  // no more groups
  EXPECT_EQ(withChange([](auto& b) { b.resize(kSymbolHeaderSize + 4); }), ParseError::kBadLength);
  EXPECT_EQ(withChange([](auto& b) { b.resize(kSymbolHeaderSize + kMaxSymbolSize + 1); }),
            ParseError::kBadLength);

}

Ed25519Key SigningKey(std::uint8_t fill) {
  return std::move(*Ed25519Key::FromSeed(std::vector<std::uint8_t>(kEd25519SeedSize, fill)));
}

TEST(FcastPacket, ASignedDescriptorRoundTripsAndOnlyItsKeyVerifiesIt) {
  const Ed25519Key key = SigningKey(1);
  std::vector<std::uint8_t> bytes;
  EncodeSignedDescriptor(SampleDescriptor(), key, bytes);
  ASSERT_EQ(bytes.size(), kDescriptorFixedSize + 8 + kEd25519SignatureSize);
  EXPECT_EQ(bytes[29], kDigestKnown | kSigned);
  const ParsedPacket parsed = ParsePacket(bytes);
  ASSERT_EQ(parsed.error, ParseError::kNone);
  const auto& got = std::get<DescriptorPacket>(parsed.packet);
  EXPECT_TRUE(VerifyDescriptor(bytes, got, key.PublicKey()));
  EXPECT_FALSE(VerifyDescriptor(bytes, got, SigningKey(2).PublicKey()));
  // What was parsed encodes back to the same datagram, signature included.
  std::vector<std::uint8_t> again;
  EncodeDescriptor(got, again);
  EXPECT_EQ(again, bytes);
  // Unsigned: no signature, nothing a key verifies.
  EncodeDescriptor(SampleDescriptor(), bytes);
  const ParsedPacket unsignedPacket = ParsePacket(bytes);
  ASSERT_EQ(unsignedPacket.error, ParseError::kNone);
  EXPECT_FALSE(
      VerifyDescriptor(bytes, std::get<DescriptorPacket>(unsignedPacket.packet), key.PublicKey()));
}

TEST(FcastPacket, EveryByteASignatureCoversIsChecked) {
  // Each byte changed, the CRC made right again as a forger would: the datagram is refused by
  // the parser or by the signature, whichever field it is in.
  const Ed25519Key key = SigningKey(3);
  std::vector<std::uint8_t> good;
  EncodeSignedDescriptor(SampleDescriptor(), key, good);
  int verified = 0;
  for (std::size_t i = 0; i < good.size(); ++i) {
    if (i >= 12 && i < 16) continue;  // the CRC itself
    std::vector<std::uint8_t> bad = good;
    bad[i] ^= 0x04;
    Reseal(bad);
    const ParsedPacket parsed = ParsePacket(bad);
    if (parsed.error != ParseError::kNone) continue;
    ++verified;
    EXPECT_FALSE(VerifyDescriptor(bad, std::get<DescriptorPacket>(parsed.packet), key.PublicKey()))
        << "byte " << i;
  }
  // The file id, size, digest, name and signature bytes parse whatever their value.
  EXPECT_GT(verified, 4 + 5 + 32 + 8 + 64);
}

TEST(FcastPacket, RejectsASignatureThatDoesNotFitTheDatagram) {
  std::vector<std::uint8_t> signedBytes;
  EncodeSignedDescriptor(SampleDescriptor(), SigningKey(4), signedBytes);
  std::vector<std::uint8_t> unsignedBytes;
  EncodeDescriptor(SampleDescriptor(), unsignedBytes);
  const auto changed = [](std::vector<std::uint8_t> bytes, auto change) {
    change(bytes);
    Reseal(bytes);
    return ParsePacket(bytes).error;
  };
  // Cut short, flagged without one, there without the flag, or followed by more bytes.
  EXPECT_EQ(changed(signedBytes, [](auto& b) { b.pop_back(); }), ParseError::kBadLength);
  EXPECT_EQ(changed(unsignedBytes, [](auto& b) { b[29] |= kSigned; }), ParseError::kBadLength);
  EXPECT_EQ(changed(signedBytes, [](auto& b) { b[29] &= ~kSigned; }), ParseError::kBadLength);
  EXPECT_EQ(changed(signedBytes, [](auto& b) { b.push_back(0); }), ParseError::kBadLength);
  // The previous wire version; a signed descriptor whose digest field is set without its flag.
  EXPECT_EQ(changed(signedBytes, [](auto& b) { b[4] = 4; }), ParseError::kBadVersion);
  EXPECT_EQ(changed(signedBytes, [](auto& b) { b[29] = kSigned; }), ParseError::kBadField);
}

TEST(FileLayout, CutsFilesIntoEvenBlocksThatCoverEveryByteOnce) {
  struct Case {
    std::uint64_t size;
    std::uint64_t symbols;
    std::uint32_t blocks;
    std::uint32_t lastLength;
  };
  // Symbols of 1024 bytes in blocks of at most 4.
  for (const Case c : {Case{0, 0, 0, 0}, Case{1, 1, 1, 1}, Case{1023, 1, 1, 1023},
                       Case{1024, 1, 1, 1024}, Case{1025, 2, 1, 1}, Case{4096, 4, 1, 1024},
                       Case{4097, 5, 2, 1}, Case{13 * 1024 + 5, 14, 4, 5}}) {
    SCOPED_TRACE(c.size);
    const auto layout = FileLayout::Make(c.size, 1024, 4);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->SymbolCount(), c.symbols);
    EXPECT_EQ(layout->BlockCount(), c.blocks);
    if (c.blocks == 0) continue;
    // Blocks follow each other without gap or overlap, and differ by one symbol at most: no
    // short last block.
    std::uint64_t next = 0;
    std::uint32_t least = 255;
    std::uint32_t most = 0;
    for (std::uint32_t block = 0; block < c.blocks; ++block) {
      EXPECT_EQ(layout->Offset(block, 0), next);
      const std::uint32_t kb = layout->SourceSymbols(block);
      least = std::min(least, kb);
      most = std::max(most, kb);
      next += layout->BlockBytes(block);
    }
    EXPECT_EQ(next, c.size);
    EXPECT_LE(most - least, 1u);
    EXPECT_EQ(layout->K(), most);
    EXPECT_EQ(layout->SourceSymbols(c.blocks), 0u);
    const std::uint32_t last = c.blocks - 1;
    const std::uint32_t kLast = layout->SourceSymbols(last);
    EXPECT_EQ(layout->Length(last, kLast - 1), c.lastLength);
    EXPECT_EQ(layout->Offset(last, kLast - 1) + c.lastLength, c.size);
  }
  EXPECT_FALSE(FileLayout::Make(10, 0, 4));
  EXPECT_FALSE(FileLayout::Make(10, 1023, 4));  // odd: not whole field elements
  EXPECT_FALSE(FileLayout::Make(10, 1024, 0));
  EXPECT_FALSE(FileLayout::Make(10, 1024, kWideMaxSourceSymbols + 1));
  // A small symbol size and block over a huge file means too many blocks to track.
  EXPECT_FALSE(FileLayout::Make(kMaxFileSize, 16, 1));
  EXPECT_TRUE(FileLayout::Make(kMaxFileSize, 1400, kWideMaxSourceSymbols));
}

}  // namespace
}  // namespace ondavox::fcast
