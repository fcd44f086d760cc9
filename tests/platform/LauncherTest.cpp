#include "platform/Launcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempDir.h"

namespace ondavox {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

TEST(Launcher, PassesEachArgumentWholeAndNeverThroughAShell) {
  TempDir dir;
  const std::string script = dir.File("record");
  const std::string out = dir.File("out");
  WriteFile(script, "#!/bin/sh\nprintf '[%s]' \"$@\" > " + out + ".tmp\nmv " + out + ".tmp " + out + "\n");
  ::chmod(script.c_str(), 0755);

  ProcessLauncher launcher;
  const std::string hostile = dir.File("a b; touch pwned; $(touch pwned2).avi");
  ASSERT_TRUE(launcher.Launch(script, {hostile, "second"}));
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(out).empty(); }));
  EXPECT_EQ(ReadFile(out), "[" + hostile + "][second]");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("pwned2")));
}

TEST(Launcher, MissingProgramIsAFailure) {
  ProcessLauncher launcher;
  EXPECT_FALSE(launcher.Launch("/nonexistent/program", {}));
  EXPECT_FALSE(launcher.Launch("no-such-program-anywhere-in-path", {"x"}));
}

}  // namespace
}  // namespace ondavox
