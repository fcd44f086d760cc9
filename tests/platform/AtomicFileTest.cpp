#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "tests/support/TempDir.h"

namespace ondavox {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(AtomicFile, CreatesReplacesAndKeepsTheMode) {
  TempDir dir;
  const std::string path = dir.File("UserDB.dat");
  Status written = WriteFileAtomically(path, std::string("a\0b", 3));
  ASSERT_TRUE(written.ok()) << written.message();
  EXPECT_EQ(ReadFile(path), std::string("a\0b", 3));
  ::chmod(path.c_str(), 0640);
  written = WriteFileAtomically(path, "second");
  ASSERT_TRUE(written.ok()) << written.message();
  EXPECT_EQ(ReadFile(path), "second");
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFile, FailureNamesTheFileAndLeavesNothingBehind) {
  TempDir dir;
  const Status missing = WriteFileAtomically(dir.File("missing/folder/a.dat"), "x");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("missing/folder/a.dat"), std::string::npos) << missing.message();
  // A path that names a folder cannot be replaced by a file.
  std::filesystem::create_directory(dir.File("taken"));
  EXPECT_FALSE(WriteFileAtomically(dir.File("taken"), "x").ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFile, KilledWriterLeavesOldOrNewContentWhole) {
  TempDir dir;
  const std::string path = dir.File("big.dat");
  const std::string oldContent(1 << 20, 'o');
  const std::string newContent(3 << 20, 'n');
  ASSERT_TRUE(WriteFileAtomically(path, oldContent).ok());
  for (int attempt = 0; attempt < 20; ++attempt) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        WriteFileAtomically(path, newContent);
        WriteFileAtomically(path, oldContent);
      }
    }
    ::usleep(static_cast<useconds_t>(1000 + attempt * 1700));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string now = ReadFile(path);
    ASSERT_TRUE(now == oldContent || now == newContent) << "size " << now.size();
  }
}

}  // namespace
}  // namespace ondavox
