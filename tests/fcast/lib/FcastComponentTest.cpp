// The creation steps of the component and its interface, over the library as built.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>

#include "common/FcastComponent.h"
#include "platform/Trace.h"
#include "tests/support/TempDir.h"

namespace ondavox {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

// Records the messages of the creation steps and the debug output.
struct Recorder {
  Recorder() {
    previous = SetDebugSink([this](std::string_view text) { debug.emplace_back(text); });
  }
  ~Recorder() { SetDebugSink(previous); }
  FcastMessageHook Hook() {
    return [this](const std::string& text) { messages.push_back(text); };
  }
  std::vector<std::string> messages;
  std::vector<std::string> debug;
  OutputSink previous;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(FcastComponent, AMissingOrBrokenLibraryGivesTheMessagesAndNoObject) {
  {
    Recorder recorder;
    EXPECT_FALSE(CreateFcastSender(recorder.Hook(), {"/nonexistent/libfcast.so"}));
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"Can't load libfcast.so"});
    EXPECT_FALSE(Contains(recorder.debug, "libfcast.so successfully registered.\n"));
  }
  {
    Recorder recorder;
    EXPECT_FALSE(CreateFcastReceiver(recorder.Hook(), {"/nonexistent/libfcast.so"}));
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"Can't load libfcast.so"});
  }
  {
    // A library that loads but is not the component.
    Recorder recorder;
    EXPECT_FALSE(CreateFcastSender(recorder.Hook(), {"libm.so.6"}));
    EXPECT_EQ(recorder.messages,
              std::vector<std::string>{"Can't find DllRegisterServer in libfcast.so"});
  }
  {
    // Registration fails; creation is still attempted (and fails: no factory).
    Recorder recorder;
    EXPECT_FALSE(CreateFcastReceiver(recorder.Hook(), {FCAST_UNREGISTRABLE_LIBRARY}));
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"Can't register libfcast.so"});
  }
}

TEST(FcastComponent, TheLibraryIsLookedForBesideTheProgramThenInstalledThenByName) {
  const std::vector<std::string> candidates = FcastLibraryCandidates();
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0], (self.parent_path() / "libfcast.so").string());
  EXPECT_EQ(candidates[1], (self.parent_path().parent_path() / "lib" / "libfcast.so").string());
  EXPECT_EQ(candidates[2], "libfcast.so");
}

TEST(FcastComponent, SenderAndReceiverObjectsTransferAFileThroughTheInterface) {
  Recorder recorder;
  const std::vector<std::string> library = {"/nonexistent/libfcast.so", FCAST_LIBRARY};
  FcastObject<FcastSender> sender = CreateFcastSender(recorder.Hook(), library);
  FcastObject<FcastReceiverObject> receiver = CreateFcastReceiver(recorder.Hook(), library);
  ASSERT_TRUE(sender);
  ASSERT_TRUE(receiver);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_TRUE(Contains(recorder.debug, "libfcast.so successfully registered.\n"));

  long code = -1, error = -1, fileId = 0, size = 0;
  short unused = 1;
  std::string name;
  // Calls before or with bad arguments fail with a negative result.
  EXPECT_LT(receiver->GetEvent(10, &code, &error, &fileId, &size, &name, &unused), 0);
  EXPECT_LT(receiver->Start(), 0);
  EXPECT_LT(sender->SendFile("/etc/hostname"), 0);
  EXPECT_LT(sender->Init("230.0.0.2", 0, 5, 12800), 0);
  EXPECT_LT(sender->Init("230.0.0.2", 1711, 5, 0), 0);
  EXPECT_LT(sender->Init("10.0.0.1", 1711, 5, 12800), 0);
  EXPECT_LT(receiver->Init("230.0.0.2", 70000, "/tmp"), 0);

  TempDir source;
  TempDir download;
  std::mt19937 rng(8);
  std::string content(300 * 1024 + 5, '\0');
  for (char& c : content) c = static_cast<char>(rng());
  WriteFile(source.path() / "clip.avi", content);

  ASSERT_EQ(receiver->Init("230.0.0.2", 1711, download.path().string()), 0);
  ASSERT_EQ(receiver->Start(), 0);
  EXPECT_EQ(receiver->Init("230.0.0.2", 1711, download.path().string()), 0);  // kept running
  EXPECT_EQ(receiver->GetEvent(20, &code, &error, &fileId, &size, &name, &unused), kFcastTimeout);

  // The server's way: 5 planned rounds, FcastRate 4000 x 1024 / 8, poll until st reaches
  // (size / 1024) x FcastRound, then Stop.
  ASSERT_EQ(sender->Init("230.0.0.2", 1711, 5, 4000 * 1024 / 8), 0);
  EXPECT_LT(sender->SendFile((source.path() / "missing").string()), 0);
  ASSERT_EQ(sender->SendFile((source.path() / "clip.avi").string()), 0);
  const long target = static_cast<long>(content.size() / 1024) * 3;
  long st = 0, sr = 0, packets = 0, rounds = 0, bytes = 0;
  ASSERT_TRUE(WaitFor([&] {
    EXPECT_EQ(sender->GetStatistics(&st, &sr, &packets, &rounds, &bytes), 0);
    return st >= target;
  }));
  EXPECT_EQ(rounds, 3);
  EXPECT_GT(sr, 0);  // rounds 2 and 3 were repair data
  EXPECT_LE(sr, st);
  EXPECT_GT(packets, static_cast<long>(content.size() / 1400) * 3);
  EXPECT_GE(bytes, static_cast<long>(content.size()) * 3);
  EXPECT_EQ(sender->Stop(), 0);

  ASSERT_EQ(receiver->GetEvent(5000, &code, &error, &fileId, &size, &name, &unused), 0);
  EXPECT_EQ(code, FCASTRE_FILE_START);
  EXPECT_EQ(size, static_cast<long>(content.size()));
  EXPECT_EQ(name, "clip.avi");
  const long startedId = fileId;
  ASSERT_EQ(receiver->GetEvent(5000, &code, &error, &fileId, &size, &name, &unused), 0);
  EXPECT_EQ(code, FCASTRE_FILE_COMPLETE);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(fileId, startedId);
  EXPECT_EQ(name, "clip.avi");
  EXPECT_EQ(unused, 0);
  EXPECT_EQ(ReadFile(download.path() / name), content);
}

// The receiver's statistics follow the file coming in, from few symbols to all it needs, and
// are empty before it and once it is complete, while later rounds of it still come.
TEST(FcastComponent, TheReceiverReportsTheProgressOfTheFileComingInOnly) {
  Recorder recorder;
  FcastObject<FcastSender> sender = CreateFcastSender(recorder.Hook(), {FCAST_LIBRARY});
  FcastObject<FcastReceiverObject> receiver = CreateFcastReceiver(recorder.Hook(), {FCAST_LIBRARY});
  ASSERT_TRUE(sender);
  ASSERT_TRUE(receiver);
  long fileId = -1, size = -1, held = -1, needed = -1;
  std::string name = "x";
  EXPECT_LT(receiver->GetStatistics(&fileId, &name, &size, &held, &needed), 0);

  TempDir source;
  TempDir download;
  std::mt19937 rng(9);
  std::string content(700 * 1024, '\0');
  for (char& c : content) c = static_cast<char>(rng());
  WriteFile(source.path() / "clip.avi", content);
  ASSERT_EQ(receiver->Init("230.0.0.3", 1712, download.path().string()), 0);
  ASSERT_EQ(receiver->Start(), 0);
  ASSERT_EQ(receiver->GetStatistics(&fileId, &name, &size, &held, &needed), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(held, 0);
  EXPECT_EQ(needed, 0);

  // About 1.4 s a round.
  ASSERT_EQ(sender->Init("230.0.0.3", 1712, 5, 4000 * 1024 / 8), 0);
  ASSERT_EQ(sender->SendFile((source.path() / "clip.avi").string()), 0);
  const long symbols = static_cast<long>((content.size() + 1399) / 1400);
  std::vector<long> seen;
  long code = 0, error = 0, eventSize = 0;
  short unused = 0;
  std::string eventName;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (code != FCASTRE_FILE_COMPLETE && std::chrono::steady_clock::now() < deadline) {
    receiver->GetEvent(10, &code, &error, &fileId, &eventSize, &eventName, &unused);
    ASSERT_EQ(receiver->GetStatistics(nullptr, &name, &size, &held, &needed), 0);
    if (name.empty()) continue;
    EXPECT_EQ(name, "clip.avi");
    EXPECT_EQ(size, static_cast<long>(content.size()));
    EXPECT_EQ(needed, symbols);
    seen.push_back(held);
  }
  ASSERT_EQ(code, FCASTRE_FILE_COMPLETE);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LT(seen.front(), symbols / 2);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                          [&](long h) { return h > symbols / 4 && h < symbols * 3 / 4; }));

  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(receiver->GetStatistics(&fileId, &name, &size, &held, &needed), 0);
    EXPECT_EQ(name, "");
    EXPECT_EQ(held, 0);
    EXPECT_EQ(needed, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(sender->Stop(), 0);
  EXPECT_EQ(ReadFile(download.path() / "clip.avi"), content);
}

// The client's way: the key and the source set before the first Init, and changed while the
// receiver runs; the sender signs with its key's seed (a known seed and its public key).
TEST(FcastComponent, TheTrustedKeyAndSourceHoldAcrossInitAndReachTheRunningReceiver) {
  Recorder recorder;
  FcastObject<FcastSender> sender = CreateFcastSender(recorder.Hook(), {FCAST_LIBRARY});
  FcastObject<FcastReceiverObject> receiver = CreateFcastReceiver(recorder.Hook(), {FCAST_LIBRARY});
  ASSERT_TRUE(sender && receiver);
  const auto fromHex = [](std::string_view hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      bytes.push_back(
          static_cast<unsigned char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
  };
  const auto seed = fromHex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  const auto publicKey =
      fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  EXPECT_EQ(sender->SetSigningKey(std::vector<unsigned char>(31)), kFcastInvalidArgument);
  EXPECT_EQ(receiver->SetTrustedKey(std::vector<unsigned char>(33)), kFcastInvalidArgument);
  EXPECT_EQ(receiver->SetSource("300.1.2.3"), kFcastInvalidArgument);
  // Waits for the next event of |code| and |error|, skipping others; its name.
  const auto next = [&](long code, long error) -> std::optional<std::string> {
    long gotCode = 0, gotError = 0, fileId = 0, size = 0;
    short unused = 0;
    std::string name;
    for (int tries = 0; tries < 50; ++tries) {
      if (receiver->GetEvent(100, &gotCode, &gotError, &fileId, &size, &name, &unused) == 0 &&
          gotCode == code && gotError == error) {
        return name;
      }
    }
    return std::nullopt;
  };

  TempDir source;
  TempDir download;
  WriteFile(source.path() / "clip.avi", std::string(50 * 1024, 'c'));
  ASSERT_EQ(sender->SetSigningKey(seed), 0);
  ASSERT_EQ(sender->Init("230.0.0.4", 1714, 5, 4000 * 1024 / 8), 0);
  // Another key than the sender's, before Init, and after an Init that starts over.
  ASSERT_EQ(receiver->SetTrustedKey(std::vector<unsigned char>(32, 1)), 0);
  for (const char* folder : {"a", "b"}) {
    ASSERT_EQ(receiver->Init("230.0.0.4", 1714, (download.path() / folder).string()), 0);
    ASSERT_EQ(receiver->Start(), 0);
    ASSERT_EQ(sender->SendFile((source.path() / "clip.avi").string()), 0);
    EXPECT_EQ(next(FCASTRE_ERROR, kFcastErrorUnauthenticated), "clip.avi");
  }
  // The sender's key, then a source it does not send from, while the receiver runs.
  ASSERT_EQ(receiver->SetTrustedKey(publicKey), 0);
  EXPECT_EQ(next(FCASTRE_FILE_COMPLETE, 0), "clip.avi");
  ASSERT_EQ(receiver->SetSource("10.9.9.9"), 0);
  ASSERT_EQ(sender->SendFile((source.path() / "clip.avi").string()), 0);
  EXPECT_TRUE(next(FCASTRE_ERROR, kFcastErrorStraySource));
  EXPECT_EQ(sender->Stop(), 0);
}

}  // namespace
}  // namespace ondavox
