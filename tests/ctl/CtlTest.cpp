// ondavoxctl run as a process against a stand-in for the server's administration socket: the
// requests it sends, how it shows replies, and its exit status for each kind of outcome.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "platform/UniqueFd.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

using nlohmann::json;

// Listens at |path| and, on a thread of its own, takes one connection, keeps its request line,
// answers with |replies| (one line each) and, unless |hold|, closes; with |hold| it waits for
// the client to close first. The destructor wakes a thread still waiting for a client.
class FakeServer {
 public:
  FakeServer(const std::string& path, std::vector<std::string> replies, bool hold = false)
      : listener_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(::listen(listener_.Get(), 1), 0);
    thread_ = std::thread([this, replies = std::move(replies), hold] {
      UniqueFd connection(::accept(listener_.Get(), nullptr, nullptr));
      if (!connection.Valid()) return;
      char byte = 0;
      while (::recv(connection.Get(), &byte, 1, 0) == 1 && byte != '\n') request_ += byte;
      for (const std::string& reply : replies) SendAll(connection.Get(), reply + "\n");
      while (hold && ::recv(connection.Get(), &byte, 1, 0) > 0) {
      }
    });
  }
  ~FakeServer() { Stop(); }

  // The request line the client sent, as JSON. REQUIRES: the client has ended.
  json Request() {
    Stop();
    return json::parse(request_, nullptr, false);
  }

 private:
  void Stop() {
    ::shutdown(listener_.Get(), SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
  }

  UniqueFd listener_;
  std::string request_;
  std::thread thread_;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class Ctl : public ::testing::Test {
 protected:
  // Runs ondavoxctl in the temporary folder with |args| after the global options.
  Outcome Run(std::vector<std::string> args) {
    args.insert(args.begin(), {ONDAVOXCTL, "--socket", socket_});
    ChildProcess ctl(args, dir_.path(), Out(), {"ONDAVOX_SOCKET"}, Err());
    const int status = ctl.Wait();
    return {status, ReadFile(Out()), ReadFile(Err())};
  }
  std::filesystem::path Out() const { return dir_.path() / "out.txt"; }
  std::filesystem::path Err() const { return dir_.path() / "err.txt"; }

  TempDir dir_;
  const std::string socket_ = dir_.File("ondavox.sock");
};

TEST_F(Ctl, UserSetSendsOnlyTheGivenFields) {
  FakeServer server(socket_, {R"({"ok":true})"});
  const Outcome outcome = Run({"user", "set", "bob", "--name", "Bob", "--unbanned"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "User bob changed.\n");
  EXPECT_EQ(server.Request(),
            json({{"command", "user-set"}, {"login", "bob"}, {"name", "Bob"}, {"banned", false}}));
}

TEST_F(Ctl, ArgumentsThatAreNotUtf8AreSentReplaced) {
  FakeServer server(socket_, {R"({"ok":true})"});
  const Outcome outcome = Run({"user", "add", "ren\xe9"});  // Latin-1
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(server.Request().value("login", ""), "ren\xef\xbf\xbd");
}

TEST_F(Ctl, DocAddSendsThePathMadeAbsolute) {
  FakeServer server(socket_, {R"({"ok":true,"file":"clip.avi","owner":"root"})"});
  const Outcome outcome = Run({"doc", "add", "clip.avi", "--description", "A clip"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Document clip.avi of root added.\n");
  EXPECT_EQ(server.Request(),
            json({{"command", "doc-add"},
                  {"path", (std::filesystem::canonical(dir_.path()) / "clip.avi").string()},
                  {"description", "A clip"}}));
}

TEST_F(Ctl, RefusalExitsOneWithTheErrorTextAlone) {
  FakeServer server(socket_, {R"({"ok":false,"error":"Login is already used by another user."})"});
  const Outcome outcome = Run({"user", "add", "bob"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "Login is already used by another user.\n");
}

TEST_F(Ctl, JsonPrintsTheReplyUnchanged) {
  const std::string reply = R"({"ok": true,  "users": [ ], "extra": 1.50})";
  FakeServer server(socket_, {reply});
  const Outcome outcome = Run({"--json", "users"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, reply + "\n");
}

TEST_F(Ctl, KeyPrintsTheKeyAloneOnItsFirstLineThenTheFingerprint) {
  FakeServer server(socket_, {R"({"ok":true,"key":"11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=",)"
                              R"("fingerprint":"SHA256:abc"})"});
  const Outcome outcome = Run({"key"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=\nSHA256:abc\n");
  EXPECT_EQ(server.Request(), json({{"command", "key"}}));
}

TEST_F(Ctl, TablesAlignOnCharactersNotBytes) {
  FakeServer server(
      socket_,
      {R"({"ok":true,"users":[)"
       R"({"login":"zoë","name":"Zoë","lastName":"Li","online":true,"banned":false,"ip":"10.0.0.2"},)"
       R"({"login":"bobby","name":"Bob","lastName":"Brown","online":false,"banned":true,"ip":""}]})"});
  const Outcome outcome = Run({"users"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "LOGIN  NAME  LAST NAME  ONLINE  BANNED  IP\n"
            "zoë    Zoë   Li         yes     no      10.0.0.2\n"
            "bobby  Bob   Brown      no      yes\n");
}

TEST_F(Ctl, StatusShowsTheTransferAndWhoHoldsTheLastFile) {
  FakeServer server(
      socket_,
      {R"({"ok":true,"running":true,"tcpPort":1550,"multicastGroup":"230.0.0.1",)"
       R"("multicastPort":2001,"fcastGroup":"230.0.0.2","fcastPort":1711,"fcastRate":400,)"
       R"("fcastRounds":3,"online":[],"playlistLength":0,"log":[],)"
       R"("transfer":{"file":"song.mp3","owner":"root","size":4194304,"bytesSent":5592405,)"
       R"("bytesToSend":12582912,"round":2},)"
       R"("deliveries":[{"file":"intro.avi","owner":"root","size":9,)"
       R"("holders":[{"login":"ann","time":"t"},{"login":"bob","time":"t"}],)"
       R"("onlineWithout":["cat"]}]})"});
  const Outcome outcome = Run({"status"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Transfer:         song.mp3 of root (4194304 bytes): round 2 of 3, "
                             "5592405 of 12582912 bytes sent, 400 kbit/s\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("Last delivery:    intro.avi of root: held by ann, bob; online "
                             "without it: cat\n"),
            std::string::npos)
      << outcome.out;
}

TEST_F(Ctl, NothingListeningExitsThreeNamingTheSocketFromTheEnvironment) {
  ASSERT_EQ(::setenv("ONDAVOX_SOCKET", socket_.c_str(), 1), 0);
  ChildProcess ctl({ONDAVOXCTL, "status"}, dir_.path(), Out(), {}, Err());
  const int status = ctl.Wait();
  ::unsetenv("ONDAVOX_SOCKET");
  EXPECT_EQ(status, 3);
  EXPECT_NE(ReadFile(Err()).find(socket_), std::string::npos) << ReadFile(Err());
}

TEST_F(Ctl, ServerClosingWithoutAReplyExitsThree) {
  FakeServer server(socket_, {});
  EXPECT_EQ(Run({"status"}).status, 3);
}

TEST_F(Ctl, ReplyThatIsNotJsonExitsThree) {
  FakeServer server(socket_, {"200 OK"});
  EXPECT_EQ(Run({"start"}).status, 3);
}

TEST_F(Ctl, UsageErrorExitsTwo) {
  const Outcome outcome = Run({"playlist", "up"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("INDEX"), std::string::npos) << outcome.err;
}

TEST_F(Ctl, LogFollowPrintsStreamedLinesUntilTheServerCloses) {
  FakeServer server(socket_, {R"({"ok":true,"log":[{"time":"2026-01-02 10:00:00","text":"a"}]})",
                              R"({"time":"2026-01-02 10:00:01","text":"b c"})", R"({"dropped":7})",
                              R"({"time":"2026-01-02 10:00:02","text":"d"})"});
  const Outcome outcome = Run({"log", "--lines", "1", "--follow"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "2026-01-02 10:00:00 a\n"
            "2026-01-02 10:00:01 b c\n"
            "[7 lines dropped]\n"
            "2026-01-02 10:00:02 d\n");
  EXPECT_EQ(server.Request(), json({{"command", "log"}, {"lines", 1}, {"follow", true}}));
}

TEST_F(Ctl, CtrlCEndsAFollowWithStatusZero) {
  FakeServer server(socket_, {R"({"ok":true,"log":[]})", R"({"time":"t","text":"x"})"},
                    /*hold=*/true);
  ChildProcess ctl({ONDAVOXCTL, "--socket", socket_, "log", "--follow"}, dir_.path(), Out(),
                   {"ONDAVOX_SOCKET"}, Err());
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Out()) == "t x\n"; })) << ReadFile(Out());
  ctl.Signal(SIGINT);
  EXPECT_EQ(ctl.Wait(), 0);
}

}  // namespace
}  // namespace ondavox::test
