#include <gtest/gtest.h>

#include "fcast/engine/FileName.h"

namespace ondavox::fcast {
namespace {

TEST(SanitizeFileName, KeepsOnlyAPlainNameInsideTheFolder) {
  EXPECT_EQ(SanitizeFileName("song.mp3", 1), "song.mp3");
  EXPECT_EQ(SanitizeFileName("Ünïcode ok.txt", 1), "Ünïcode ok.txt");
  // Directory parts of either kind of separator are dropped.
  EXPECT_EQ(SanitizeFileName("a/b", 1), "b");
  EXPECT_EQ(SanitizeFileName("../x", 1), "x");
  EXPECT_EQ(SanitizeFileName("/etc/passwd", 1), "passwd");
  EXPECT_EQ(SanitizeFileName("C:\\docs\\report.doc", 1), "report.doc");
  EXPECT_EQ(SanitizeFileName("..\\..\\boot.ini", 1), "boot.ini");
  // No control characters, no leading dots or spaces (hidden files, "." and "..").
  EXPECT_EQ(SanitizeFileName("a\nb\tc\x7f"
                             "d",
                             1),
            "abcd");
  EXPECT_EQ(SanitizeFileName(".bashrc", 1), "bashrc");
  EXPECT_EQ(SanitizeFileName(" . .hidden", 1), "hidden");
  EXPECT_EQ(SanitizeFileName(".fcast-AbCdEf", 1), "fcast-AbCdEf");
  // Nothing left: a name made from the file id.
  EXPECT_EQ(SanitizeFileName("..", 0xbeef), "fcast-0000beef");
  EXPECT_EQ(SanitizeFileName("dir/", 0x12345678), "fcast-12345678");
  EXPECT_EQ(SanitizeFileName("", 0xffffffff), "fcast-ffffffff");
  EXPECT_EQ(SanitizeFileName(std::string("\0\0", 2), 1), "fcast-00000001");
}

TEST(SanitizeFileName, CutsLongNamesOnACharacterBoundary) {
  EXPECT_EQ(SanitizeFileName(std::string(300, 'a'), 1), std::string(kMaxFileName, 'a'));
  // "é" is two bytes; 199 ASCII bytes then "é" would split it at byte 200.
  const std::string name = SanitizeFileName(std::string(199, 'a') + "éé", 1);
  EXPECT_EQ(name, std::string(199, 'a'));
}

}  // namespace
}  // namespace ondavox::fcast
