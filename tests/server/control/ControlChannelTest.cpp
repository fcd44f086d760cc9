#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/PublicKeyText.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/control/ControlChannel.h"
#include "server/net/ServerDataAccess.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/server/control/ChannelClient.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
using nlohmann::json;
namespace {

// A stopped server's document in a temporary folder with its channel open on ondavox.sock.
class ControlChannelTest : public testing::Test {
 protected:
  ControlChannelTest()
      : document_(std::make_unique<COndavoxDoc>(dir_.path().string(),
                                                FactoryOf(std::make_shared<FakeFcastSender>()))),
        admin_(*document_),
        channel_(std::make_unique<ControlChannel>(*document_, Switch())) {
    EXPECT_TRUE(document_->Load().ok());
    EXPECT_TRUE(channel_->Open(path_).ok());
  }

  ControlCommands::ServerSwitch Switch() {
    return {[this] { return admin_.StartServer(); }, [this] { return admin_.StopServer(); }};
  }
  static std::string ErrorOf(const json& reply) {
    return reply.value("ok", true) ? "(ok)" : reply.value("error", "(no text)");
  }

  TempDir dir_;
  const std::string path_ = dir_.File("ondavox.sock");
  std::unique_ptr<COndavoxDoc> document_;
  ServerAdministration admin_;
  std::unique_ptr<ControlChannel> channel_;
};

TEST_F(ControlChannelTest, ChangesFollowTheDialogsRulesAndAreSaved) {
  ChannelClient client(path_);
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-add"}, {"login", ""}})),
            "Specify a login for the user.");
  EXPECT_EQ(ErrorOf(client.Request(
                {{"command", "user-add"}, {"login", "ann"}, {"password", "pw"}, {"name", "Ann"}})),
            "(ok)");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-add"}, {"login", "ann"}})),
            "Login is already used by another user.");
  // Only the fields given change.
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-set"}, {"login", "ann"}, {"banned", true}})),
            "(ok)");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-set"}, {"login", "bob"}})), "User unknow");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-del"}, {"login", "bob"}})),
            "Unknow user.\nDelete user progress abort.");

  // A folder is not a document: it could never be broadcast.
  EXPECT_EQ(ErrorOf(client.Request(
                {{"command", "doc-add"}, {"path", dir_.path().string()}, {"description", "d"}})),
            dir_.path().string() + " cannot be opened.");
  std::ofstream(dir_.File("clip.avi")) << "frames";
  EXPECT_EQ(ErrorOf(client.Request({{"command", "doc-add"}, {"path", dir_.File("clip.avi")}})),
            "You must specify a description to the file.");
  const json added = client.Request(
      {{"command", "doc-add"}, {"path", dir_.File("clip.avi")}, {"description", "Clip"}});
  EXPECT_EQ(added.value("file", ""), "clip.avi");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "enqueue"}, {"file", "nope.avi"}})),
            "Unknow file nope.avi");
  EXPECT_EQ(client.Request({{"command", "enqueue"}, {"file", "clip.avi"}}).value("position", -1),
            0);
  EXPECT_EQ(ErrorOf(client.Request({{"command", "playlist-down"}, {"index", 3}})),
            "There is no entry 3 in the playlist.");
  EXPECT_EQ(client.Request({{"command", "status"}}).value("playlistLength", -1), 1);

  // What the channel changed is in the files, as a restarted server reads them.
  COndavoxDoc reread(dir_.path().string(), FactoryOf(std::make_shared<FakeFcastSender>()));
  ASSERT_TRUE(reread.Load().ok());
  ServerDataAccess access(reread.runner());
  const CUserInfo* ann = reread.users().Find("ann");
  ASSERT_NE(ann, nullptr);
  EXPECT_EQ(ann->name(), "Ann");
  EXPECT_EQ(ann->password(), "pw");
  EXPECT_EQ(ann->banned(), 1);
  EXPECT_NE(reread.documents().Find(CDocInfo::MakeKey("root", "clip.avi")), nullptr);
}

TEST_F(ControlChannelTest, KeyIsTheOneInServerPubEvenBeforeTheFirstStart) {
  ChannelClient client(path_);
  // A server.pub whose server.key was lost is reported, naming the missing file.
  WriteFile(dir_.File("server.pub"), "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=\n");
  EXPECT_NE(ErrorOf(client.Request({{"command", "key"}})).find(dir_.File("server.key")),
            std::string::npos);

  // Once the operator removed it, the next request makes the pair.
  std::filesystem::remove(dir_.File("server.pub"));
  const json key = client.Request({{"command", "key"}});
  ASSERT_EQ(ErrorOf(key), "(ok)");
  EXPECT_EQ(key.value("key", "") + "\n", ReadFile(dir_.File("server.pub")));
  const std::optional<std::vector<unsigned char>> decoded = DecodePublicKey(key.value("key", ""));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(key.value("fingerprint", ""), KeyFingerprint(*decoded));
  EXPECT_FALSE(document_->IsRunning());
}

TEST_F(ControlChannelTest, BadRequestsGetErrorsAndDisturbNothing) {
  ChannelClient idle(path_);  // connects and never sends a byte
  ASSERT_TRUE(idle.connected());
  ChannelClient client(path_);
  EXPECT_EQ(ErrorOf(client.Request({{"command", "nope"}})), "unknown command: nope");
  EXPECT_EQ(ErrorOf(client.Request({{"login", "ann"}})), "missing field: command");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "user-add"}, {"login", 7}})),
            "field login must be a string");
  EXPECT_EQ(ErrorOf(client.Request({{"command", "playlist-del"}, {"index", -1}})),
            "field index is out of range");
  EXPECT_EQ(ErrorOf(client.Request(json::array({1, 2}))), "not an object");
  ASSERT_TRUE(client.SendLine("{\"command\": "));
  EXPECT_EQ(ErrorOf(json::parse(client.ReadLine())).rfind("not JSON: ", 0), 0U);
  // A 1 MiB line is refused once, then skipped to its end.
  ASSERT_TRUE(client.SendLine(std::string(1 << 20, 'x')));
  EXPECT_EQ(ErrorOf(json::parse(client.ReadLine())), "line longer than 65536 bytes");
  // Latin-1 bytes in a login come back as text, not as a broken reply.
  ASSERT_TRUE(client.SendLine("{\"command\":\"user-add\",\"login\":\"ren\xc3\xa9\"}"));
  EXPECT_EQ(ErrorOf(json::parse(client.ReadLine())), "(ok)");
  EXPECT_EQ(client.Request({{"command", "users"}})["users"].size(), 1U);
}

TEST_F(ControlChannelTest, SocketIsPrivateAndOnlyAStaleOneIsReplaced) {
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U);

  ControlChannel second(*document_, Switch());
  const Status refused = second.Open(path_);
  EXPECT_NE(refused.message().find("another server is running"), std::string::npos);
  EXPECT_TRUE(ChannelClient(path_).connected());  // the first one is untouched

  channel_->Close();
  EXPECT_FALSE(std::filesystem::exists(path_));
  {
    // The file a killed server leaves: bound, never unlinked.
    UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    ASSERT_EQ(::bind(stale.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  EXPECT_TRUE(second.Open(path_).ok());
  EXPECT_TRUE(ChannelClient(path_).Request({{"command", "status"}}).value("ok", false));
  second.Close();

  std::ofstream(path_) << "not a socket";
  EXPECT_FALSE(second.Open(path_).ok());
  EXPECT_TRUE(std::filesystem::is_regular_file(path_));
}

TEST_F(ControlChannelTest, AnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
  // Only the peer check stands in the way now.
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ChannelClient client(path_);
    client.SendLine("{\"command\":\"status\"}");
    ::_exit(client.ReadLine().find("permission denied: uid 65534") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(ControlChannel::PeerAllowed(0, 1000));
  EXPECT_FALSE(ControlChannel::PeerAllowed(1001, 1000));
}

TEST_F(ControlChannelTest, FollowerGetsEachNewLineOnce) {
  document_->AppendLog("before");
  ChannelClient follower(path_);
  const json reply = follower.Request({{"command", "log"}, {"lines", 1}, {"follow", true}});
  ASSERT_EQ(reply["log"].size(), 1U);
  EXPECT_EQ(reply["log"][0]["text"], "before");
  document_->AppendLog("after");
  EXPECT_EQ(json::parse(follower.ReadLine()).value("text", ""), "after");
  channel_->Close();  // ends the stream
  EXPECT_EQ(follower.ReadLine(), "");
}

}  // namespace
}  // namespace ondavox::test
