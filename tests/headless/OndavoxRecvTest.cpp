// ondavox-recv, the client without a window, run as a process against the server core of the
// test, in the test's private network: it logs in or registers, receives a broadcast file into
// its download folder, logs out on SIGTERM or SIGINT, and ends with status 1 and the reason in
// its log when it cannot go on.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "server/data/ServerEvent.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

constexpr char kNoOpen[] = "--no-open";

class OndavoxRecvTest : public ServerFixture {
 protected:
  OndavoxRecvTest()
      : ServerFixture(FcastSenderThread::ComponentFactory(
            [](const std::string& text) { ADD_FAILURE() << text; }, {FCAST_LIBRARY})) {
    std::filesystem::create_directories(client_);
    AddUser("ann", "pw");
  }


  // client.ini in the client's folder, with |changes| to its [Server] section.
  void WriteSettings(const std::string& login, const std::string& password,
                     const std::map<std::string, std::string>& changes = {}) {
    std::map<std::string, std::string> server = {{"serverIP", "127.0.0.1"},
                                                 {"serverPort", std::to_string(kTcpPort)},
                                                 {"serverMulticastPort", "2001"},
                                                 {"serverGroup", "230.0.0.1"},
                                                 {"downloadDirectory", download_}};
    for (const auto& [key, value] : changes) server[key] = value;
    std::string text = "[Server]\n";
    for (const auto& [key, value] : server) text += key + "=" + value + "\n";
    text += "[User]\nlogin=" + login + "\npass=" + password + "\n[Fileasso]\nnbext=0\n";
    WriteFile(client_ / "client.ini", text);
  }

  // ondavox-recv started in the client's folder, its two outputs in out.txt.
  ChildProcess Recv(std::vector<std::string> args) {
    args.insert(args.begin(), ONDAVOX_RECV);
    return ChildProcess(args, client_, client_ / "out.txt");
  }
  std::string Out() const { return ReadFile(client_ / "out.txt"); }
  bool OutHas(const std::string& text) const { return Out().find(text) != std::string::npos; }
  bool Online(const std::string& login) {
    const std::optional<CUserInfo> user = User(login);
    return user && user->online() != 0;
  }

  const std::filesystem::path client_ = dir_.path() / "client";
  const std::string download_ = (client_ / "download").string() + "/";
};

TEST_F(OndavoxRecvTest, LogsInReceivesABroadcastFileAndLogsOutOnSigterm) {
  StartForLocalClient();
  WriteSettings("ann", "pw");
  ChildProcess recv = Recv({kNoOpen});
  ASSERT_TRUE(WaitFor([&] { return Online("ann"); })) << Out();

  const std::string content = RandomBytes(200 * 1024 + 5, 7);
  WriteFile(dir_.path() / "clip.avi", content);
  runner_.playlist().AddTail(
      CDocInfo("clip.avi", "ann", (dir_.path() / "clip.avi").string(), "video/avi", 0, 0, ""));
  runner_.WakeFcastSender();
  ASSERT_TRUE(WaitFor([&] { return OutHas("[KEPT] " + download_ + "clip.avi (not opened)"); },
                      std::chrono::seconds(30)))
      << Out();
  EXPECT_EQ(ReadFile(download_ + "clip.avi"), content);

  recv.Signal(SIGTERM);
  EXPECT_EQ(recv.Wait(), 0) << Out();
  EXPECT_TRUE(listener_.Saw(USER_OFFLINE, "ann"));
  EXPECT_FALSE(Online("ann"));

  const std::string out = Out();
  std::size_t at = 0;
  for (const char* line :
       {"> [INFO] Try to connect\n", "> [INFO] You are connected\n",
        "> [SEND] LOGIN\tann\t*****\t127.0.0.1\t666\n", "> [FCAST] File received\n",
        "> [INFO] Stop requested, logging out\n", "> [SEND] LOGOUT\tann\n",
        "> [UDP] You've been disconnected\n"}) {
    at = out.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " in order in\n" << out;
  }
  // The session ended with the server's answer to LOGOUT (no "No answer to LOGOUT" error).
  // The password never reaches the output, nor do the trace lines (no --trace).
  EXPECT_EQ(out.find("\tpw"), std::string::npos) << out;
  EXPECT_EQ(out.find("[ENTER]"), std::string::npos) << out;
  EXPECT_EQ(out.find("[ERROR]"), std::string::npos) << out;
}

// While a file comes in, a progress line at most every second, on the output but not as a log
// line; none once the file is received.
TEST_F(OndavoxRecvTest, PrintsAProgressLineAtMostEverySecondWhileAFileComesIn) {
  StartForLocalClient(4000);  // 512 kB/s: about 3 s for the file
  WriteSettings("ann", "pw");
  ChildProcess recv = Recv({kNoOpen});
  ASSERT_TRUE(WaitFor([&] { return Online("ann"); })) << Out();

  WriteFile(dir_.path() / "clip.avi", RandomBytes(1500 * 1024, 8));
  runner_.playlist().AddTail(
      CDocInfo("clip.avi", "ann", (dir_.path() / "clip.avi").string(), "video/avi", 0, 0, ""));
  const auto start = std::chrono::steady_clock::now();
  runner_.WakeFcastSender();
  ASSERT_TRUE(WaitFor([&] { return OutHas("[KEPT] " + download_ + "clip.avi (not opened)"); },
                      std::chrono::seconds(30)))
      << Out();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A second more of the later rounds: they bring no progress line.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  recv.Signal(SIGTERM);
  EXPECT_EQ(recv.Wait(), 0) << Out();

  const std::string out = Out();
  const std::regex progress(R"(\[PROGRESS\] clip\.avi \d{1,3}%( \d+(\.\d)? (B|kB|MB)/s)?)");
  int lines = 0;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    if (line.find("PROGRESS") == std::string::npos) continue;
    EXPECT_TRUE(std::regex_match(line, progress)) << line;  // never a time-stamped log line
    ++lines;
  }
  EXPECT_GE(lines, 1) << out;
  EXPECT_LE(lines, seconds + 1) << out;
  EXPECT_EQ(out.find("[PROGRESS]", out.find("> [FCAST] File received")), std::string::npos) << out;
}

TEST_F(OndavoxRecvTest, RegistersANewUserWithItsNamesAndLogsOutOnSigint) {
  StartForLocalClient();
  WriteSettings("bob", "secret");
  ChildProcess recv = Recv({kNoOpen, "--register", "--name", "Bob", "--last-name", "Lee"});
  ASSERT_TRUE(WaitFor([&] { return Online("bob"); })) << Out();
  EXPECT_EQ(User("bob")->name(), "Bob");
  EXPECT_EQ(User("bob")->lastName(), "Lee");
  EXPECT_EQ(User("bob")->password(), "secret");
  recv.Signal(SIGINT);
  EXPECT_EQ(recv.Wait(), 0) << Out();
  EXPECT_TRUE(listener_.Saw(USER_OFFLINE, "bob"));
  EXPECT_TRUE(OutHas("> [SEND] REGISTER\tbob\t*****\tBob\tLee\t127.0.0.1\t666\n")) << Out();
  EXPECT_TRUE(OutHas("> [SEND] LOGOUT\tbob\n")) << Out();
  EXPECT_FALSE(OutHas("[ERROR]")) << Out();
}

// Whatever stops it short, it ends by itself with status 1, its log saying why.
TEST_F(OndavoxRecvTest, EndsWithStatusOneAndTheReasonWhenItCannotGoOn) {
  // No server yet.
  WriteSettings("ann", "pw");
  {
    ChildProcess recv = Recv({kNoOpen});
    EXPECT_EQ(recv.Wait(), 1) << Out();
    EXPECT_TRUE(OutHas("> [ERROR] problem TCP\n")) << Out();
    EXPECT_TRUE(OutHas("> [ERROR] Can't connect the server\n")) << Out();
  }
  StartForLocalClient();
  WriteSettings("ann", "wrong");
  {
    ChildProcess recv = Recv({kNoOpen});
    EXPECT_EQ(recv.Wait(), 1) << Out();
    EXPECT_TRUE(OutHas("> [ERROR] The session was closed: login or register refused")) << Out();
    EXPECT_FALSE(Online("ann"));
  }
  // Settings that cannot work: nothing is tried.
  WriteFile(client_ / "blocker", "");
  for (const auto& [key, value, reason] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"serverIP", "server.example", "serverIP \"server.example\" is not an IPv4 address"},
           {"serverGroup", "10.0.0.1", "serverGroup \"10.0.0.1\" is not a multicast group address"},
           {"serverPort", "70000", "serverPort 70000 is not a port number"},
           {"downloadDirectory", (client_ / "blocker" / "download").string(),
            "downloadDirectory \"" + (client_ / "blocker" / "download").string() +
                "\" is not a folder and cannot be made one"}}) {
    WriteSettings("ann", "pw", {{key, value}});
    ChildProcess recv = Recv({kNoOpen});
    EXPECT_EQ(recv.Wait(), 1) << key;
    EXPECT_TRUE(OutHas("> [ERROR] ./client.ini: " + reason + "\n")) << Out();
    EXPECT_FALSE(OutHas("Try to connect")) << Out();
  }
  // A settings file named on the command line must exist.
  {
    ChildProcess recv = Recv({kNoOpen, "--config", "elsewhere.ini"});
    EXPECT_EQ(recv.Wait(), 1);
    EXPECT_TRUE(OutHas("> [ERROR] No settings file elsewhere.ini\n")) << Out();
    EXPECT_FALSE(std::filesystem::exists(client_ / "elsewhere.ini"));
  }
}

}  // namespace
}  // namespace ondavox::test
