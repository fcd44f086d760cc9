#include "server/net/FcastSenderThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/Mutex.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

using Events = std::vector<std::pair<int, std::string>>;

// Records what the thread asks of the server.
class FakeHost final : public FcastSenderHost {
 public:
  Playlist& playlist() override { return playlist_; }
  DeliveryLedger& deliveries() override { return deliveries_; }
  void SendFCAST() override {
    MutexLock lock(mu_);
    log_.push_back("FCAST");
  }
  void PostEvent(const ServerEvent& event) override {
    MutexLock lock(mu_);
    events_.emplace_back(event.GetType(), event.GetParam(0));
    log_.push_back("event " + std::to_string(event.GetType()));
  }
  Events events() {
    MutexLock lock(mu_);
    return events_;
  }
  std::vector<std::string> log() {
    MutexLock lock(mu_);
    return log_;
  }
  void Note(const std::string& line) {
    MutexLock lock(mu_);
    log_.push_back(line);
  }

  Playlist playlist_;
  DeliveryLedger deliveries_;

 private:
  Mutex mu_;
  Events events_ GUARDED_BY(mu_);
  std::vector<std::string> log_ GUARDED_BY(mu_);
};

// A sender object whose unit count grows by |step| at each poll; SendFile fails for paths
// that contain "refused".
class FakeSender final : public FcastSender {
 public:
  FakeSender(FakeHost& host, long step) : host_(host), step_(step) {}
  long Init(const std::string& group, long port, long rounds, long rate) override {
    host_.Note("Init " + group + " " + std::to_string(port) + " " + std::to_string(rounds) + " " +
               std::to_string(rate));
    return 0;
  }
  long SendFile(const std::string& path) override {
    // Receipts may come back before SendFile returns: the ledger must know the file already.
    const std::vector<DeliveryLedger::Transfer> kept = host_.deliveries_.Transfers();
    const bool known = !kept.empty() && kept.front().entry.path() == path;
    host_.Note("SendFile " + std::filesystem::path(path).filename().string() +
               (known ? "" : " (not in the ledger)"));
    units_ = 0;
    return path.find("refused") == std::string::npos ? 0 : kFcastFail;
  }
  long Stop() override {
    host_.Note("Stop");
    return 0;
  }
  long GetStatistics(long* st, long* sr, long*, long*, long*) override {
    units_ += step_;
    *st = units_;
    *sr = 0;
    return 0;
  }
  long SetSigningKey(const std::vector<unsigned char>&) override { return 0; }
  long SetInterface(const std::string&) override { return 0; }

 private:
  FakeHost& host_;
  const long step_;
  long units_ = 0;
};

class FcastSenderThreadTest : public testing::Test {
 protected:
  CDocInfo Document(const std::string& name, std::size_t size) {
    const std::string path = dir_.File(name);
    if (name.find("missing") == std::string::npos) WriteFile(path, std::string(size, 'x'));
    return CDocInfo(name, "root", path, "video/avi", 0, 0, "");
  }
  std::unique_ptr<FcastSenderThread> Start(long step, int32_t rounds = 3, int32_t rate = 100) {
    auto thread = std::make_unique<FcastSenderThread>(
        host_, FcastSenderThread::Settings{"230.0.0.2", 1711, rounds, rate},
        std::make_shared<FakeSender>(host_, step));
    thread->Resume();
    return thread;
  }

  TempDir dir_;
  FakeHost host_;
};

TEST_F(FcastSenderThreadTest, SendsEachEntryInTurnUntilItsUnitsAreCounted) {
  host_.playlist_.AddTail(Document("a.avi", 10 * 1024 + 5));  // target 10 * 3 = 30 units
  host_.playlist_.AddTail(Document("b.avi", 100));            // target 0: sent at the first poll
  auto thread = Start(/*step=*/16);
  ASSERT_TRUE(WaitFor([&] { return host_.events().size() == 2; }, std::chrono::seconds(20)));
  EXPECT_EQ(host_.playlist_.GetCount(), 0);
  EXPECT_EQ(host_.events(), (Events{{PLAYLIST_UPDATED, ""}, {PLAYLIST_UPDATED, ""}}));
  EXPECT_EQ(host_.log(), (std::vector<std::string>{
                             "FCAST", "Init 230.0.0.2 1711 5 12800", "SendFile a.avi",
                             // within the first second, every quarter: b.avi is done by then
                             "FCAST", "FCAST", "FCAST",
                             "FCAST",  // announced again: a.avi is not done at the first poll
                             "Stop", "event 13", "FCAST", "Init 230.0.0.2 1711 5 12800",
                             "SendFile b.avi", "FCAST", "FCAST", "FCAST", "Stop", "event 13"}));
}

TEST_F(FcastSenderThreadTest, AnEntryThatCannotBeSentIsRemovedAndReported) {
  host_.playlist_.AddTail(Document("missing.avi", 0));
  host_.playlist_.AddTail(Document("refused.avi", 10));
  host_.playlist_.AddTail(Document("good.avi", 10));
  auto thread = Start(/*step=*/1);
  ASSERT_TRUE(WaitFor([&] { return host_.events().size() == 5; }, std::chrono::seconds(20)));
  const Events events = host_.events();
  EXPECT_EQ(events[0], std::make_pair(int{LOG_FAILURE},
                                      "FCAST: the file " + dir_.File("missing.avi") +
                                          " could not be sent; it was removed from the playlist"));
  EXPECT_EQ(events[1], std::make_pair(int{PLAYLIST_UPDATED}, std::string()));
  EXPECT_EQ(events[2].second, "FCAST: the file " + dir_.File("refused.avi") +
                                  " could not be sent; it was removed from the playlist");
  EXPECT_EQ(events[4], std::make_pair(int{PLAYLIST_UPDATED}, std::string()));
  EXPECT_EQ(host_.playlist_.GetCount(), 0);
  const std::vector<std::string> log = host_.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "SendFile refused.avi"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "SendFile good.avi"), 1);
  // Only the transfer that began is kept.
  const std::vector<DeliveryLedger::Transfer> kept = host_.deliveries_.Transfers();
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0].entry.fileName(), "good.avi");
}

TEST_F(FcastSenderThreadTest, CloseAbandonsTheFileInProgressAtTheHead) {
  host_.playlist_.AddTail(Document("long.avi", 1 << 20));
  auto thread = Start(/*step=*/0);  // never finishes
  ASSERT_TRUE(WaitFor([&] { return host_.log().size() >= 3; }));
  thread->Close();
  EXPECT_EQ(host_.playlist_.GetCount(), 1);
  EXPECT_TRUE(host_.events().empty());
  EXPECT_EQ(host_.log().back(), "Stop");
}

TEST_F(FcastSenderThreadTest, RemovesTheEntryItSentEvenAfterTheOperatorReordered) {
  host_.playlist_.AddTail(Document("first.avi", 2048));  // target 6 units
  host_.playlist_.AddTail(Document("second.avi", 10));
  auto thread = Start(/*step=*/2);
  ASSERT_TRUE(WaitFor([&] { return host_.log().size() >= 3; }));
  ASSERT_EQ(host_.playlist_.Move(1, 1), 0);  // second.avi now first, while first.avi is sent
  ASSERT_TRUE(WaitFor([&] { return !host_.events().empty(); }, std::chrono::seconds(20)));
  // second.avi takes a poll of a second to send: it is still waiting, alone.
  const std::optional<CDocInfo> head = host_.playlist_.GetHead();
  EXPECT_EQ(host_.playlist_.GetCount(), 1);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->fileName(), "second.avi");
  EXPECT_EQ(host_.log()[2], "SendFile first.avi");
}

TEST_F(FcastSenderThreadTest, SleepsWhileEmptyAndWakesForANewEntry) {
  auto thread = Start(/*step=*/1);
  host_.playlist_.AddTail(Document("late.avi", 10));
  thread->Wake();
  ASSERT_TRUE(WaitFor([&] { return host_.events().size() == 1; }, std::chrono::seconds(20)));
  EXPECT_EQ(host_.log().front(), "FCAST");
}

}  // namespace
}  // namespace ondavox::test
