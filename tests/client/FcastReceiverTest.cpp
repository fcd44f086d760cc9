#include <gtest/gtest.h>

#include <filesystem>

#include "client/core/FcastReceiver.h"
#include "platform/Trace.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/support/TempDir.h"

namespace ondavox::client {
namespace {

using test::FakeReceiverObject;
using test::RecordingLauncher;
using test::RecordingLogBox;
using test::TempDir;
using test::WaitFor;

// A receiver over the fake object, with the debug output recorded.
class FcastReceiverTest : public testing::Test {
 protected:
  FcastReceiverTest() {
    SetDebugSink([this](std::string_view text) {
      MutexLock lock(debugMu_);
      debug_ += text;
    });
  }
  ~FcastReceiverTest() override {
    receiver_.reset();
    SetDebugSink({});
  }

  std::string Debug() {
    MutexLock lock(debugMu_);
    return debug_;
  }
  FcastReceiver& Receiver() {
    if (!receiver_) receiver_ = std::make_unique<FcastReceiver>(object_, settings_, launcher_);
    return *receiver_;
  }
  void Complete(const std::string& name) {
    object_->Push({kFcastOk, FCASTRE_FILE_COMPLETE, 0, 7, 1234, name});
  }

  RecordingLogBox log_;
  TempDir dir_;
  Mutex debugMu_;
  std::string debug_ GUARDED_BY(debugMu_);
  std::shared_ptr<FakeReceiverObject> object_ = std::make_shared<FakeReceiverObject>();
  ReceptionSettings settings_;
  RecordingLauncher launcher_;
  std::unique_ptr<FcastReceiver> receiver_;
};

TEST_F(FcastReceiverTest, AssociationMatchingIsAByteWiseSuffix) {
  const std::vector<FileAssociation> list = {
      {"MP3", "/bin/upper"}, {"3", "/bin/three"}, {"mp3", "/bin/lower"}};
  EXPECT_EQ(FcastReceiver::Match(list, "song.mp3")->program, "/bin/three") << "first match wins";
  EXPECT_EQ(FcastReceiver::Match({{"mp3", "/bin/p"}}, "song.mp3")->program, "/bin/p");
  EXPECT_FALSE(FcastReceiver::Match({{"MP3", "/bin/p"}}, "song.mp3"));
  EXPECT_FALSE(FcastReceiver::Match({{"long.song.mp3", "/bin/p"}}, "song.mp3"));
  EXPECT_EQ(FcastReceiver::Match({{"", "/bin/any"}}, "x")->program, "/bin/any");
  EXPECT_FALSE(FcastReceiver::Match({}, "song.mp3"));

  EXPECT_EQ(FcastReceiver::FullPath("/in/", "song.mp3"), "/in/song.mp3");
  EXPECT_EQ(FcastReceiver::FullPath("/in", "song.mp3"), "/in/song.mp3");
}

TEST_F(FcastReceiverTest, StartInitialisesCreatesTheFolderAndLogs) {
  const std::string folder = dir_.File("a/b/download/");
  EXPECT_TRUE(Receiver().Start("230.0.0.2", 1711, folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(object_->Calls(), (std::vector<std::string>{"Init 230.0.0.2 1711 " + folder, "Start"}));
  EXPECT_EQ(log_.Count("[FCAST] Init OK"), 1);
  EXPECT_EQ(log_.Count("[FCAST] Start OK"), 1);
  // The announcement repeated while the transfer lasts.
  EXPECT_TRUE(Receiver().Start("230.0.0.2", 1711, folder));
  EXPECT_EQ(object_->Calls().size(), 2u);
  EXPECT_EQ(log_.Lines().size(), 2u);

  object_->FailInit(true);
  EXPECT_FALSE(Receiver().Start("230.0.0.2", 1712, folder));
  EXPECT_EQ(log_.Count("[FCAST] Init KO"), 1);
  EXPECT_EQ(object_->Calls().back(), "Init 230.0.0.2 1712 " + folder) << "no Start after Init KO";
  // Retried at each repeat, logged once.
  EXPECT_FALSE(Receiver().Start("230.0.0.2", 1712, folder));
  EXPECT_EQ(object_->Calls().size(), 4u);
  EXPECT_EQ(log_.Count("[FCAST] Init KO"), 1);
  object_->FailInit(false);
  EXPECT_TRUE(Receiver().Start("230.0.0.2", 1712, folder));
  EXPECT_EQ(log_.Count("[FCAST] Start OK"), 2);
}

TEST_F(FcastReceiverTest, CompletedFilesOpenWithTheirProgramOrTheDesktop) {
  settings_.Update(dir_.File("elsewhere/"), {{"mp3", "/opt/player"}});
  const std::string folder = dir_.path().string() + "/";
  ASSERT_TRUE(Receiver().Start("230.0.0.2", 1711, folder));
  Complete("song.mp3");
  Complete("notes.txt");
  ASSERT_TRUE(WaitFor([&] { return launcher_.Launches().size() == 2; }));
  EXPECT_EQ(launcher_.Launches(),
            (std::vector<RecordingLauncher::Started>{{"/opt/player", {folder + "song.mp3"}},
                                                     {"open", {folder + "notes.txt"}}}));
  ASSERT_TRUE(log_.WaitForLine("[EXEC] " + folder + "notes.txt"));
  const std::vector<std::string> lines = log_.Bodies();
  const std::vector<std::string> expected = {
      "[FCAST] File received", "[EXEC] " + folder + "song.mp3", "[FCAST] File received",
      "[EXEC] " + folder + "notes.txt"};
  EXPECT_TRUE(std::search(lines.begin(), lines.end(), expected.begin(), expected.end()) !=
              lines.end());
  EXPECT_NE(Debug().find("File complete, Id=7 Name=song.mp3 size=1234\n"), std::string::npos);
}

TEST_F(FcastReceiverTest, EventCodesAndTheLoopRunningAgainAtEachStart) {
  ASSERT_TRUE(Receiver().Start("230.0.0.2", 1711, dir_.path().string() + "/"));
  object_->Push({kFcastOk, FCASTRE_FILE_START, 0, 3, 99, ""});
  object_->Push({kFcastOk, FCASTRE_ERROR, 42, 0, 0, ""});
  object_->Push({kFcastOk, 7, 0, 0, 0, ""});
  object_->Push({kFcastOk, FCASTRE_CONTINUE, 0, 0, 0, ""});
  object_->Push({kFcastOk, FCASTRE_FATAL_ERROR, 10, 0, 0, ""});
  object_->Push({kFcastOk, FCASTRE_COMPLETE, 0, 0, 0, ""});  // after the loop ended
  ASSERT_TRUE(WaitFor([&] { return Debug().find("FCASTRE_FATAL_ERROR") != std::string::npos; }));
  const std::string debug = Debug();
  EXPECT_NE(debug.find("Enter event thread\nFile started, Id=3 size=99\nFCASTRE_FILE_START\n"
                       "Error 42\nFCASTRE_ERROR\nFCASTRE_CONTINUE\nFatalError 10\n"
                       "FCASTRE_FATAL_ERROR\n"),
            std::string::npos)
      << debug;
  EXPECT_FALSE(object_->Drained()) << "the loop ended at the fatal error";

  // The next announcement runs the loop again.
  ASSERT_TRUE(Receiver().Start("230.0.0.2", 1711, dir_.path().string() + "/"));
  ASSERT_TRUE(WaitFor([&] { return Debug().find("FCASTRE_COMPLETE") != std::string::npos; }));
  EXPECT_NE(Debug().find("Done - file received successfully\nFCASTRE_COMPLETE\n"),
            std::string::npos);
}

TEST_F(FcastReceiverTest, QuietMomentsDoNotEndTheLoopButAFailedWaitDoes) {
  ASSERT_TRUE(Receiver().Start("230.0.0.2", 1711, dir_.path().string() + "/"));
  // Two whole waits pass without any event.
  ASSERT_TRUE(WaitFor([&] { return object_->Timeouts() >= 2; }));
  Complete("late.txt");
  ASSERT_TRUE(WaitFor([&] { return launcher_.Launches().size() == 1; }));

  object_->Push({kFcastFail, 0, 0, 0, 0, ""});
  ASSERT_TRUE(WaitFor([&] { return Debug().find("Leaving event thread\n") != std::string::npos; }));
  Complete("ignored.txt");
  ASSERT_TRUE(Receiver().Start("230.0.0.2", 1711, dir_.path().string() + "/"));
  ASSERT_TRUE(WaitFor([&] { return launcher_.Launches().size() == 2; }));
}

TEST_F(FcastReceiverTest, WithoutAReceiverObjectEveryStartFails) {
  FcastReceiver receiver(nullptr, settings_, launcher_);
  EXPECT_EQ(log_.Count("[FCAST] libfcast.so non registered"), 1);
  EXPECT_FALSE(receiver.Start("230.0.0.2", 1711, dir_.path().string() + "/"));
  EXPECT_EQ(log_.Count("[FCAST] Init KO"), 1);
}

}  // namespace
}  // namespace ondavox::client
