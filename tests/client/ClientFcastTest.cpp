// Files broadcast with the real Fcast component reach the client's download folder and are
// opened, in the test binary's private network.
#include <gtest/gtest.h>

#include <filesystem>

#include "client/core/ClientRunner.h"
#include "common/ReplyCodes.h"
#include "platform/Trace.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/support/TempDir.h"

namespace ondavox::client {
namespace {

using test::AnnouncementSender;
using test::RandomBytes;
using test::ReadFile;
using test::RecordingLauncher;
using test::RecordingLogBox;
using test::RecordingView;
using test::ReplyLine;
using test::ScriptedServer;
using test::TcpLine;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

constexpr char kGroup[] = "230.0.0.1";
constexpr int kMulticastPort = 2001;

TEST(ClientFcast, AnnouncedBroadcastsArriveAndOpenWithTheirProgram) {
  RecordingLogBox log;
  RecordingView view;
  RecordingLauncher launcher;
  TempDir source;
  TempDir home;
  const std::vector<std::string> library = {FCAST_LIBRARY};
  std::vector<std::string> messages;
  auto runner = std::make_unique<ClientRunner>(launcher, [&] {
    return ClientRunner::LoadFcastReceiver(
        [&](const std::string& text) { messages.push_back(text); }, library);
  });
  ASSERT_TRUE(messages.empty());
  // The download folder does not exist yet; the receiver makes it.
  const std::string download = (home.path() / "incoming" / "media").string() + "/";
  runner->settings().Update(download, {{".mp3", "/opt/player"}});

  ScriptedServer server([](const std::string&) { return ReplyLine(kLoginAccepted); });
  runner->Connect(server.Port(), kMulticastPort, "127.0.0.1", kGroup);
  runner->SendTCP({"LOGIN", "ann", "pw", "127.0.0.1", "666"});
  ASSERT_TRUE(log.WaitForLine(TcpLine(kLoginAccepted)));

  FcastObject<FcastSender> sender = CreateFcastSender([](const std::string&) {}, library);
  ASSERT_TRUE(sender);
  AnnouncementSender announcer;
  const auto broadcast = [&](const std::string& name, const std::string& content) {
    WriteFile(source.path() / name, content);
    // The second file's announcement finds the receiver running and changes nothing.
    announcer.Send(kGroup, kMulticastPort, "FCAST\t230.0.0.2\t1711\n");
    ASSERT_TRUE(WaitFor([&] { return log.Count("[FCAST] Start OK") == 1; }));
    ASSERT_EQ(sender->Init("230.0.0.2", 1711, 5, 4000 * 1024 / 8), 0);
    ASSERT_EQ(sender->SendFile((source.path() / name).string()), 0);
    ASSERT_TRUE(log.WaitForLine("[EXEC] " + download + name));
    ASSERT_EQ(sender->Stop(), 0);
    EXPECT_EQ(ReadFile(download + name), content);
  };

  const std::string song = RandomBytes(200 * 1024 + 7, 1);
  broadcast("song.mp3", song);
  const std::string notes = RandomBytes(3000, 2);
  broadcast("notes.txt", notes);

  EXPECT_EQ(launcher.Launches(),
            (std::vector<RecordingLauncher::Started>{{"/opt/player", {download + "song.mp3"}},
                                                     {"open", {download + "notes.txt"}}}));
  EXPECT_EQ(log.Count("[FCAST] File received"), 2);
  EXPECT_EQ(log.Count("[FCAST] Init OK"), 1);
  runner.reset();
}

TEST(ClientFcast, MissingComponentIsLoggedAndEveryStartFails) {
  RecordingLogBox log;
  RecordingLauncher launcher;
  TempDir home;
  std::vector<std::string> messages;
  ClientRunner runner(launcher, [&] {
    return ClientRunner::LoadFcastReceiver(
        [&](const std::string& text) { messages.push_back(text); }, {"/nonexistent/libfcast.so"});
  });
  EXPECT_EQ(messages, std::vector<std::string>{"Can't load libfcast.so"});
  EXPECT_EQ(log.Count("[FCAST] libfcast.so non registered"), 1);
  runner.StartFcast("230.0.0.2", 1711, home.path().string() + "/");
  EXPECT_EQ(log.Count("[FCAST] Init KO"), 1);
}

}  // namespace
}  // namespace ondavox::client
