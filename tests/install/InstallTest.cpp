// The installed tree: cmake --install into a temporary prefix puts the programs in bin, the
// Fcast library in lib, and the help files, desktop entries and icons under share. An
// installed server finds the library with no library path set, and the programs find their
// help files from where they are installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "common/CommandLine.h"
#include "common/HelpFile.h"
#include "common/ReplyCodes.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

namespace fs = std::filesystem;

bool IsExecutableFile(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IXUSR);
}

// The value of |key| in a desktop entry's text, or the empty string.
std::string DesktopValue(const std::string& entry, const std::string& key) {
  std::smatch match;
  const std::regex line("(^|\n)" + key + "=([^\n]*)");
  return std::regex_search(entry, match, line) ? match[2].str() : std::string();
}

TEST(HelpFile, IsLookedForInTheStartDirectoryThenInTheShareFolderBesideTheProgram) {
  TempDir dir;
  const fs::path start = dir.path() / "start";
  const fs::path bin = dir.path() / "tree" / "bin";
  const fs::path shared = dir.path() / "tree" / "share" / "ondavox" / "help" / "Server.hlp";
  fs::create_directories(start);
  fs::create_directories(bin);
  fs::create_directories(shared.parent_path());
  WriteFile(shared, "installed");

  EXPECT_EQ(FindHelpFile("Server.hlp", start, bin), shared);
  // Neither place has it: the start-directory path, for the message that names it.
  EXPECT_EQ(FindHelpFile("Client.hlp", start, bin), start / "Client.hlp");
  EXPECT_EQ(FindHelpFile("Server.hlp", start, fs::path()), start / "Server.hlp");
  // A folder of that name is not a help file.
  fs::create_directories(start / "Server.hlp");
  EXPECT_EQ(FindHelpFile("Server.hlp", start, bin), shared);
  fs::remove(start / "Server.hlp");
  WriteFile(start / "Server.hlp", "beside the settings");
  EXPECT_EQ(FindHelpFile("Server.hlp", start, bin), start / "Server.hlp");
}

// One installation shared by the tests below.
class Installed : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = std::make_unique<TempDir>();
    ChildProcess install({CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", prefix().string()},
                         tree_->path(), tree_->path() / "install.log");
    installed_ = install.Wait(std::chrono::seconds(120)) == 0;
  }
  static void TearDownTestSuite() { tree_.reset(); }

  void SetUp() override { ASSERT_TRUE(installed_) << ReadFile(tree_->path() / "install.log"); }

  static fs::path prefix() { return tree_->path() / "prefix"; }

  // Runs the installed ondavoxd in |dir| with no library path until it has started, registers
  // one user over TCP on |port|, stops it, and returns its output.
  static std::string RunInstalledServer(const TempDir& dir, uint16_t port) {
    WriteFile(dir.path() / "server.ini", "[TCP]\nPort=" + std::to_string(port) + "\n");
    ChildProcess server({(prefix() / "bin" / "ondavoxd").string()}, dir.path(),
                        dir.path() / "out.txt", {"LD_LIBRARY_PATH"});
    EXPECT_TRUE(WaitFor([&] {
      return ReadFile(dir.path() / "out.txt").find("Server started.") != std::string::npos;
    })) << ReadFile(dir.path() / "out.txt");
    {
      TestClient client(port);
      EXPECT_EQ(client.Ask("REGISTER\tann\tpw\tAnn\tSmith\t10.0.0.3\t4001"), kRegistered);
    }
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
    return ReadFile(dir.path() / "out.txt");
  }

  // Runs the installed |tool| with |argument|: its exit status, and its output in |output|.
  static int RunInstalledTool(const std::string& tool, const std::string& argument,
                              std::string& output) {
    TempDir dir;
    ChildProcess run({(prefix() / "bin" / tool).string(), argument}, dir.path(),
                     dir.path() / "out.txt", {"LD_LIBRARY_PATH"});
    const int status = run.Wait();
    output = ReadFile(dir.path() / "out.txt");
    return status;
  }

  static inline std::unique_ptr<TempDir> tree_;
  static inline bool installed_ = false;
};

TEST_F(Installed, ProgramsGoToBinAndTheFcastLibraryToLib) {
  std::vector<std::string> programs = {"ondavoxd", "ondavoxctl", "ondavox-recv",
                                       "fcast-send", "fcast-recv", "ondavox-load"};
  if (ONDAVOX_GUI) programs.insert(programs.end(), {"ondavox", "ondavox-client"});
  for (const std::string& program : programs) {
    EXPECT_TRUE(IsExecutableFile(prefix() / "bin" / program)) << program;
  }
  EXPECT_TRUE(fs::is_regular_file(prefix() / "lib" / "libfcast.so"));
}

TEST_F(Installed, ProgramsAnswerHelpAndVersionAndRefuseAWrongOption) {
  // Each program without a window, with an option it must list in its help.
  const std::vector<std::pair<std::string, std::string>> tools = {
      {"ondavoxd", "--socket"},         {"ondavoxctl", "enqueue"},  {"ondavox-recv", "--register"},
      {"fcast-send", "--rounds"},       {"fcast-recv", "--timeout"},
      {"ondavox-load", "--connections"}};
  for (const auto& [tool, option] : tools) {
    std::string output;
    EXPECT_EQ(RunInstalledTool(tool, "--help", output), 0) << tool;
    EXPECT_NE(output.find(option), std::string::npos) << output;
    EXPECT_EQ(RunInstalledTool(tool, "--version", output), 0) << tool;
    EXPECT_EQ(output, tool + " " + kVersion + "\n");
    EXPECT_EQ(RunInstalledTool(tool, "--no-such-option", output), kUsageExit) << tool;
    EXPECT_NE(output.find("--no-such-option"), std::string::npos) << output;
  }
}

TEST_F(Installed, TheServerFindsTheFcastLibraryWithoutALibraryPath) {
  TempDir withLibrary;
  const std::string out = RunInstalledServer(withLibrary, 1550);
  EXPECT_EQ(out.find("Can't load libfcast.so"), std::string::npos) << out;
  EXPECT_NE(out.find("Server stopped."), std::string::npos) << out;

  // The same run with the library taken away says so: the check above can fail.
  const fs::path library = prefix() / "lib" / "libfcast.so";
  fs::rename(library, library.string() + ".away");
  TempDir withoutLibrary;
  const std::string missing = RunInstalledServer(withoutLibrary, 1551);
  fs::rename(library.string() + ".away", library);
  EXPECT_NE(missing.find("Can't load libfcast.so"), std::string::npos) << missing;
}

// The units start the installed programs, even when the tree was installed under another prefix
// than the configured one, and stop them by SIGTERM (the server saves, the client logs out).
TEST_F(Installed, ServiceUnitsStartTheInstalledPrograms) {
  for (const auto& [unit, program] : {std::pair{"system/ondavoxd.service", "ondavoxd"},
                                      std::pair{"user/ondavox-recv.service", "ondavox-recv"}}) {
    const std::string text = ReadFile(prefix() / "lib" / "systemd" / unit);
    EXPECT_EQ(DesktopValue(text, "ExecStart"), (prefix() / "bin" / program).string()) << text;
    EXPECT_EQ(DesktopValue(text, "KillSignal"), "SIGTERM") << text;
    EXPECT_EQ(DesktopValue(text, "Restart"), "on-failure") << text;
  }
}

TEST_F(Installed, HelpFilesAreWhereTheInstalledProgramsLookForThem) {
  const fs::path help = prefix() / "share" / "ondavox" / "help";
  TempDir start;
  for (const char* name : {"Server.hlp", "Client.hlp"}) {
    EXPECT_EQ(ReadFile(help / name), ReadFile(fs::path(SOURCE_DIR) / "packaging" / "help" / name));
    EXPECT_NE(ReadFile(help / name).find("id=\"Main\""), std::string::npos) << name;
    EXPECT_EQ(FindHelpFile(name, start.path(), prefix() / "bin"), help / name);
  }
}

TEST_F(Installed, DesktopEntriesAreValidAndNameInstalledProgramsAndIcons) {
  if (!ONDAVOX_GUI) GTEST_SKIP() << "built without the window programs";
  const fs::path applications = prefix() / "share" / "applications";
  std::vector<std::string> programs;
  for (const fs::directory_entry& file : fs::directory_iterator(applications)) {
    const std::string entry = ReadFile(file.path());
    TempDir dir;
    ChildProcess validate({DESKTOP_FILE_VALIDATE, file.path().string()}, dir.path(),
                          dir.path() / "out.txt");
    EXPECT_EQ(validate.Wait(), 0) << file.path();
    EXPECT_EQ(ReadFile(dir.path() / "out.txt"), "") << file.path();

    const std::string program = DesktopValue(entry, "Exec");
    programs.push_back(program);
    EXPECT_TRUE(IsExecutableFile(prefix() / "bin" / program)) << file.path();
    const fs::path icon = prefix() / "share" / "icons" / "hicolor" / "scalable" / "apps" /
                          (DesktopValue(entry, "Icon") + ".svg");
    EXPECT_NE(ReadFile(icon).find("<svg "), std::string::npos) << icon;
  }
  std::sort(programs.begin(), programs.end());
  EXPECT_EQ(programs, (std::vector<std::string>{"ondavox", "ondavox-client"}));
}

}  // namespace
}  // namespace ondavox::test
