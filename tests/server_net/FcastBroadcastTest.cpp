// The server's Fcast sender thread broadcasting real files through the Fcast component to a
// receiver object of the same component, as a client would receive them.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/FcastComponent.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

std::vector<std::string> Library() { return {FCAST_LIBRARY}; }

class FcastBroadcastTest : public ServerFixture {
 protected:
  FcastBroadcastTest()
      : ServerFixture(FcastSenderThread::ComponentFactory(
            [](const std::string& text) { ADD_FAILURE() << text; }, Library())) {}

  // Waits for the next completed file; its stored name, or nothing.
  std::optional<std::string> NextCompletedFile(FcastReceiverObject& receiver) {
    for (int i = 0; i < 60; ++i) {
      long code = 0, error = 0, fileId = 0, size = 0;
      std::string name;
      short unused = 0;
      if (receiver.GetEvent(1000, &code, &error, &fileId, &size, &name, &unused) != kFcastOk) continue;
      if (code == FCASTRE_FILE_COMPLETE) return name;
      EXPECT_NE(code, FCASTRE_ERROR) << "error " << error;
      EXPECT_NE(code, FCASTRE_FATAL_ERROR) << "error " << error;
    }
    return std::nullopt;
  }
};

TEST_F(FcastBroadcastTest, PlaylistFilesReachAReceiverAndThePlaylistEmpties) {
  FcastObject<FcastReceiverObject> receiver =
      CreateFcastReceiver([](const std::string& text) { ADD_FAILURE() << text; }, Library());
  ASSERT_TRUE(receiver);
  const std::filesystem::path downloads = dir_.path() / "download";
  std::filesystem::create_directories(downloads);
  ASSERT_EQ(receiver->Init("230.0.0.2", 1711, downloads.string()), kFcastOk);
  ASSERT_EQ(receiver->Start(), kFcastOk);

  const std::vector<std::pair<std::string, std::size_t>> files{{"clip.avi", 300 * 1024 + 7},
                                                               {"song.mp3", 999}};
  for (const auto& [name, size] : files) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + size) & 0xFF);
    WriteFile(dir_.path() / name, bytes);
    runner_.playlist().AddTail(
        CDocInfo(name, "root", (dir_.path() / name).string(), "video/avi", 0, 0, ""));
  }
  ServerRunner::Settings settings;
  settings.multicastPort = 2002;
  settings.fcastRound = 2;
  settings.fcastRate = 16000;  // kbit/s
  runner_.Start(settings);
  runner_.WakeFcastSender();

  for (const auto& [name, size] : files) {
    const std::optional<std::string> stored = NextCompletedFile(*receiver.get());
    ASSERT_EQ(stored, name);
    EXPECT_EQ(ReadFile(downloads / name), ReadFile(dir_.path() / name));
  }
  ASSERT_TRUE(WaitFor([&] { return runner_.playlist().GetCount() == 0; }, std::chrono::seconds(30)));
  EXPECT_TRUE(WaitFor([&] {
    int updates = 0;
    for (const auto& event : listener_.Events()) updates += event.first == PLAYLIST_UPDATED;
    return updates == 2;
  }));
}

}  // namespace
}  // namespace ondavox::test
