#include <gtest/gtest.h>

#include <string>

#include "server/data/ArchiveReader.h"
#include "server/data/ArchiveWriter.h"
#include "tests/server/data/Hex.h"

namespace ondavox::server {
namespace {

using test::Hex;

constexpr RecordClass kUser{"CUserInfo", 0};
const std::string kUserClassRecord = Hex("FF FF 00 00 09 00 43 55 73 65 72 49 6E 66 6F");

std::string Written(const std::string& text) {
  ArchiveWriter writer;
  writer.WriteString(text);
  return writer.bytes();
}

std::string ReadBack(const std::string& bytes, std::size_t* offset = nullptr) {
  ArchiveReader reader(bytes, "t.dat");
  std::string text = reader.ReadString();
  EXPECT_TRUE(reader.ok()) << reader.status().message();
  if (offset != nullptr) *offset = reader.offset();
  return text;
}

TEST(Archive, StringLengthFormsAtTheirBoundaries) {
  struct Case {
    std::size_t length;
    std::string prefix;
  };
  const Case cases[] = {{0, Hex("00")},
                        {254, Hex("FE")},
                        {255, Hex("FF FF 00")},
                        {65533, Hex("FF FD FF")},
                        {65534, Hex("FF FF FF FE FF 00 00")},
                        {70000, Hex("FF FF FF 70 11 01 00")}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'x');
    const std::string bytes = Written(text);
    EXPECT_EQ(bytes, c.prefix + text) << c.length;
    std::size_t offset = 0;
    EXPECT_EQ(ReadBack(bytes + "tail", &offset), text) << c.length;
    EXPECT_EQ(offset, bytes.size()) << c.length;
  }
}

TEST(Archive, IntegersAreLittleEndian) {
  ArchiveWriter writer;
  writer.WriteU16(0x0102);
  writer.WriteI32(-2);
  writer.WriteU32(0x0A0B0C0D);
  EXPECT_EQ(writer.bytes(), Hex("02 01 FE FF FF FF 0D 0C 0B 0A"));
  ArchiveReader reader(writer.bytes(), "t.dat");
  EXPECT_EQ(reader.ReadU16(), 0x0102);
  EXPECT_EQ(reader.ReadI32(), -2);
  EXPECT_EQ(reader.ReadU32(), 0x0A0B0C0Du);
  EXPECT_TRUE(reader.ok());
}

TEST(Archive, ReaderAcceptsSixteenBitCharacterStrings) {
  // Short, medium and long length forms after the marker; a character above 0xFF reads as '?'.
  EXPECT_EQ(ReadBack(Hex("FF FE FF 03 42 00 6F 00 62 00")), "Bob");
  EXPECT_EQ(ReadBack(Hex("FF FE FF 02 E9 00 3A 26")), "\xE9?");
  std::string medium = Hex("FF FE FF FF 00 01");
  for (int i = 0; i < 256; ++i) medium += Hex("61 00");
  EXPECT_EQ(ReadBack(medium), std::string(256, 'a'));
  EXPECT_EQ(ReadBack(Hex("FF FE FF FF FF FF 01 00 00 00 7A 00")), "z");
  // A second marker reads as the long form, as the reader of the stored files does.
  EXPECT_EQ(ReadBack(Hex("FF FE FF FF FE FF 01 00 00 00 7A 00")), "z");
}

TEST(Archive, LengthBeyondTheEndFailsWithoutAllocating) {
  for (const std::string& bytes :
       {Hex("05 61 62"), Hex("FF FF FF FF FF FF 7F 61"), Hex("FF FE FF 02 61 00 62"),
        Hex("FF FE FF FF FF FF FF FF FF 7F"), Hex("FF FF")}) {
    ArchiveReader reader(bytes, "UserDB.dat");
    EXPECT_EQ(reader.ReadString(), "");
    ASSERT_FALSE(reader.ok());
    EXPECT_EQ(reader.status().code(), Status::Code::kFormatError);
    EXPECT_EQ(reader.status().offset(), 0u);
    EXPECT_EQ(reader.status().message().rfind("UserDB.dat: format error at byte 0: ", 0), 0u)
        << reader.status().message();
    // Later reads keep the first failure.
    EXPECT_EQ(reader.ReadU32(), 0u);
    EXPECT_EQ(reader.status().offset(), 0u);
  }
}

TEST(Archive, EveryCutOfALongStringFails) {
  const std::string bytes = Written(std::string(65534, 'z'));
  for (std::size_t cut = 0; cut < bytes.size(); cut += cut < 16 ? 1 : 4099) {
    ArchiveReader reader(std::string_view(bytes).substr(0, cut), "t.dat");
    EXPECT_EQ(reader.ReadString(), "");
    EXPECT_EQ(reader.status().offset(), 0u) << cut;
  }
}

TEST(Archive, WriterTagsTheFirstObjectWithItsClassAndLaterOnesByNumber) {
  ArchiveWriter writer;
  writer.WriteObjectHeader(kUser);
  writer.WriteObjectHeader(kUser);
  writer.WriteObjectHeader(kUser);
  EXPECT_EQ(writer.bytes(), kUserClassRecord + Hex("01 80 01 80"));

  ArchiveReader reader(writer.bytes(), "t.dat");
  for (int i = 0; i < 3; ++i) reader.ReadObjectHeader(kUser);
  EXPECT_TRUE(reader.ok()) << reader.status().message();
}

// The tags a reader understands beyond the writer's two: each case follows one valid object
// (the class record, number 1, and the object, number 2).
TEST(Archive, ReaderTagRules) {
  struct Case {
    std::string tag;
    bool accepted;
    std::string reason;
  };
  const Case cases[] = {
      {Hex("FF 7F 01 00 00 80"), true, ""},  // 32-bit tag naming class 1
      {kUserClassRecord, true, ""},          // the class record again
      {Hex("00 00"), false, "null reference"},
      {Hex("02 00"), false, "reference to record number 2"},
      {Hex("01 00"), false, "names nothing"},  // number 1 is the class, not an object
      {Hex("05 00"), false, "names nothing"},
      {Hex("02 80"), false, "names no class"},  // number 2 is an object
      {Hex("00 80"), false, "names no class"},
      {Hex("FF 7F 09 00 00 80"), false, "names no class"},
      {Hex("FF 7F 02 00 00 00"), false, "reference to record number 2"},
      {Hex("FF FF 00 00 40 00") + std::string(64, 'C'), false, "class name of 64 bytes"},
      {Hex("FF FF 00 00 08 00 43 44 6F 63 49 6E 66 6F"), false, "class CDocInfo"},
      {Hex("FF FF 01 00 09 00 43 55 73 65 72 49 6E 66 6F"), false, "schema 1"},
      {Hex("FF FF 00 00 09 00 43 55 73 65"), false, "ends inside a class record"},
  };
  for (const Case& c : cases) {
    const std::string bytes = kUserClassRecord + c.tag;
    ArchiveReader reader(bytes, "t.dat");
    reader.ReadObjectHeader(kUser);
    reader.ReadObjectHeader(kUser);
    EXPECT_EQ(reader.ok(), c.accepted) << c.reason;
    if (c.accepted) continue;
    EXPECT_EQ(reader.status().offset(), kUserClassRecord.size()) << c.reason;
    EXPECT_NE(reader.status().message().find(c.reason), std::string::npos)
        << reader.status().message();
  }
}

}  // namespace
}  // namespace ondavox::server
