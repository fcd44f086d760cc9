#include "common/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace ondavox {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniFile, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
  TempDir dir;
  IniFile ini(dir.File("server.ini"));
  EXPECT_EQ(ini.Read("Network", "Port"), "");
  EXPECT_FALSE(ini.HasSection("Network"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("server.ini")));

  EXPECT_TRUE(ini.Write("Network", "Port", "1550"));
  EXPECT_EQ(ini.Read("Network", "Port"), "1550");
  EXPECT_TRUE(ini.HasSection("Network"));
  EXPECT_NE(ReadFile(dir.File("server.ini")).find("Port"), std::string::npos);
}

TEST(IniFile, SectionWithoutKeysIsAbsent) {
  TempDir dir;
  WriteFile(dir.File("a.ini"), "[Empty]\n[Full]\nk=v\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_FALSE(ini.HasSection("Empty"));
  EXPECT_TRUE(ini.HasSection("Full"));
  EXPECT_EQ(ini.Read("Empty", "k"), "");
  EXPECT_EQ(ini.Read("Full", "missing"), "");
}

TEST(IniFile, NamesMatchWithoutRegardToCase) {
  TempDir dir;
  WriteFile(dir.File("a.ini"), "[Network]\nMulticastIP=230.0.0.1\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.Read("NETWORK", "multicastip"), "230.0.0.1");
  EXPECT_TRUE(ini.HasSection("network"));
  ASSERT_TRUE(ini.Write("network", "MULTICASTIP", "230.0.0.9"));
  EXPECT_EQ(ini.Read("Network", "MulticastIP"), "230.0.0.9");
  // One section and one key, not a second spelling of either.
  const std::string text = ReadFile(dir.File("a.ini"));
  EXPECT_EQ(text.find("230.0.0.1"), std::string::npos);
  EXPECT_EQ(text.find('[', text.find('[') + 1), std::string::npos) << text;
}

TEST(IniFile, LongValueReadsBackCutTo254Characters) {
  TempDir dir;
  IniFile ini(dir.File("a.ini"));
  const std::string value(300, 'x');
  ASSERT_TRUE(ini.Write("S", "k", value));
  EXPECT_EQ(ini.Read("S", "k"), value.substr(0, 254));
  ASSERT_TRUE(ini.Write("S", "k", value.substr(0, 254)));
  EXPECT_EQ(ini.Read("S", "k").size(), 254u);
}

TEST(IniFile, WriteKeepsTheRestOfTheFile) {
  TempDir dir;
  WriteFile(dir.File("a.ini"),
            "; operator notes\n[Files]\nUserDB=UserDB.dat\n[Network]\nPort=1550\nOther=x\n");
  IniFile ini(dir.File("a.ini"));
  ASSERT_TRUE(ini.Write("Network", "Port", "1600"));
  ASSERT_TRUE(ini.Write("Fcast", "FcastRound", "3"));
  const std::string text = ReadFile(dir.File("a.ini"));
  EXPECT_NE(text.find("; operator notes"), std::string::npos) << text;
  EXPECT_LT(text.find("[Files]"), text.find("[Network]")) << text;
  EXPECT_EQ(ini.Read("Files", "UserDB"), "UserDB.dat");
  EXPECT_EQ(ini.Read("Network", "Port"), "1600");
  EXPECT_EQ(ini.Read("Network", "Other"), "x");
  EXPECT_EQ(ini.Read("Fcast", "FcastRound"), "3");
}

TEST(IniFile, ReadsSpacedFilesAndWritesKeyEqualsValueOneSectionAfterAnother) {
  TempDir dir;
  WriteFile(dir.File("a.ini"), "[TCP]\nPort = 1550\n\n[Fcast]\nFcastIP = 230.0.0.2\nNote =\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.Read("TCP", "Port"), "1550");
  EXPECT_EQ(ini.Read("Fcast", "FcastIP"), "230.0.0.2");
  ASSERT_TRUE(ini.Write("TCP", "Port", "1600"));
  EXPECT_EQ(ReadFile(dir.File("a.ini")),
            "[TCP]\nPort=1600\n[Fcast]\nFcastIP=230.0.0.2\nNote=\n");
}

TEST(IniFile, RelativeNameFollowsTheCurrentDirectoryAtEachAccess) {
  TempDir first, second;
  const auto previous = std::filesystem::current_path();
  IniFile ini("client.ini");
  std::filesystem::current_path(first.path());
  ASSERT_TRUE(ini.Write("S", "k", "one"));
  std::filesystem::current_path(second.path());
  EXPECT_EQ(ini.Read("S", "k"), "");
  ASSERT_TRUE(ini.Write("S", "k", "two"));
  std::filesystem::current_path(first.path());
  EXPECT_EQ(ini.Read("S", "k"), "one");
  std::filesystem::current_path(previous);
}

TEST(IniFile, WriteIntoAFolderThatCannotBeWrittenFailsAndLeavesTheFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TempDir dir;
  IniFile ini(dir.File("a.ini"));
  ASSERT_TRUE(ini.Write("S", "k", "old"));
  ::chmod(dir.path().c_str(), 0500);
  EXPECT_FALSE(ini.Write("S", "k", "new"));
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_EQ(ini.Read("S", "k"), "old");
}

TEST(IniFile, ConcurrentWritersLoseNoKey) {
  TempDir dir;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&dir, t] {
      IniFile ini(dir.File("a.ini"));
      for (int i = 0; i < 25; ++i) ini.Write("S" + std::to_string(t), "k" + std::to_string(i), "v");
    });
  }
  for (auto& thread : threads) thread.join();
  IniFile ini(dir.File("a.ini"));
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      EXPECT_EQ(ini.Read("S" + std::to_string(t), "k" + std::to_string(i)), "v");
    }
  }
}

}  // namespace
}  // namespace ondavox
