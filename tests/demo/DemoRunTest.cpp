// The demo with no display: run-demo prepares the folder and runs ondavoxd in it inside a
// network namespace of its own, with only the loopback, where it answers about the demo user
// and the sample documents; SIGTERM stops it cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PrivateNetwork.h"
#include "tests/support/ChildProcess.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

namespace fs = std::filesystem;

std::string NetworkOf(pid_t pid) {
  std::error_code error;
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/net", error).string();
}

// Runs |work| on a thread that has joined the network namespace of |pid|. False when it could
// not join.
bool InNetworkOf(pid_t pid, const std::function<void()>& work) {
  bool joined = false;
  std::thread thread([&] {
    const std::string space = "/proc/" + std::to_string(pid) + "/ns/net";
    const int fd = ::open(space.c_str(), O_RDONLY | O_CLOEXEC);
    joined = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
    if (joined) work();
  });
  thread.join();
  return joined;
}

TEST(DemoWithoutDisplay, RunsOndavoxdInAPrivateNetworkOnThePreparedFolder) {
  TempDir dir;
  const fs::path demo = dir.path() / "demo";
  const fs::path out = dir.path() / "out.txt";
  ChildProcess run({RUN_DEMO, BIN_DIR, demo.string()}, dir.path(), out,
                   {"DISPLAY", "ONDAVOX_IN_PRIVATE_NETWORK"});
  ASSERT_TRUE(WaitFor([&] { return ReadFile(out).find("Server started.") != std::string::npos; },
                      std::chrono::seconds(30)))
      << ReadFile(out);
  EXPECT_NE(ReadFile(out).find("No display: running ondavoxd in " + (demo / "server").string()),
            std::string::npos)
      << ReadFile(out);
  // The script has become the server, in a namespace other than this test's.
  std::error_code error;
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(run.pid()) + "/exe", error).filename(),
            "ondavoxd");
  EXPECT_NE(NetworkOf(run.pid()), NetworkOf(::getpid()));

  std::vector<std::string> interfaces;
  std::optional<std::string> whois, fileinfo;
  ASSERT_TRUE(InNetworkOf(run.pid(), [&] {
    interfaces = VisibleInterfaces();
    TestClient client(1550);
    whois = client.Ask("WHOIS\tdemo");
    fileinfo = client.Ask("FILEINFO\ttone.wav\troot");
  }));
  EXPECT_EQ(interfaces, std::vector<std::string>{"lo"});
  ASSERT_TRUE(whois.has_value());
  EXPECT_EQ(whois->rfind("Login : \t\tdemo%#Name : \t\tDemo%#Lastname : \tUser%#", 0), 0u)
      << *whois;
  ASSERT_TRUE(fileinfo.has_value());
  EXPECT_EQ(fileinfo->rfind("Filename :\ttone.wav%#Owner :\t\troot%#MimeType :\taudio/x-wav", 0),
            0u)
      << *fileinfo;

  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 0) << ReadFile(out);
  EXPECT_NE(ReadFile(out).find("Server stopped."), std::string::npos) << ReadFile(out);
  EXPECT_TRUE(fs::is_regular_file(demo / "server" / "UserDB.dat"));
  EXPECT_TRUE(fs::is_regular_file(demo / "client" / "client.ini"));
}

}  // namespace
}  // namespace ondavox::test
