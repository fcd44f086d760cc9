// The reception figures the client window and ondavox-recv show, from the receiver object's
// statistics.
#include <gtest/gtest.h>

#include "client/core/ReceptionMeter.h"
#include "tests/client/ClientTestSupport.h"

namespace ondavox::test {
namespace {

using client::ReceptionFigures;
using client::ReceptionMeter;
using std::chrono::seconds;

TEST(ReceptionMeter, GivesPercentAndRateOfTheFileComingInAndNothingBetweenFiles) {
  auto receiver = std::make_shared<FakeReceiverObject>();
  ReceptionMeter meter(receiver);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(meter.Sample(t0));

  receiver->SetProgress({7, "clip.avi", 4'000'000, 100, 1000});
  std::optional<ReceptionFigures> figures = meter.Sample(t0);
  ASSERT_TRUE(figures);
  EXPECT_EQ(figures->name, "clip.avi");
  EXPECT_EQ(figures->percent, 10);
  EXPECT_FALSE(figures->bytesPerSecond);  // no earlier sample of the file
  EXPECT_EQ(ReceptionMeter::ProgressLine(*figures), "[PROGRESS] clip.avi 10%");

  // 420 of 1000 symbols two seconds later: 1.28 MB more of the 4 MB file.
  receiver->SetProgress({7, "clip.avi", 4'000'000, 420, 1000});
  figures = meter.Sample(t0 + seconds(2));
  ASSERT_TRUE(figures);
  EXPECT_EQ(figures->percent, 42);
  EXPECT_DOUBLE_EQ(figures->bytesPerSecond.value_or(0), 640'000);
  EXPECT_EQ(ReceptionMeter::ProgressLine(*figures), "[PROGRESS] clip.avi 42% 640.0 kB/s");

  // Whole, then between files.
  receiver->SetProgress({7, "clip.avi", 4'000'000, 1000, 1000});
  figures = meter.Sample(t0 + seconds(4));
  EXPECT_EQ(ReceptionMeter::ProgressLine(*figures), "[PROGRESS] clip.avi 100% 1.2 MB/s");
  receiver->SetProgress({});
  EXPECT_FALSE(meter.Sample(t0 + seconds(5)));

  // The next file's rate starts from its own first sample, not from the last file's.
  receiver->SetProgress({8, "song.mp3", 1'000'000, 500, 1000});
  EXPECT_FALSE(meter.Sample(t0 + seconds(6))->bytesPerSecond);
  receiver->SetProgress({9, "other.txt", 1'000'000, 600, 1000});
  EXPECT_FALSE(meter.Sample(t0 + seconds(7))->bytesPerSecond);

  EXPECT_FALSE(ReceptionMeter(nullptr).Sample(t0));
}

}  // namespace
}  // namespace ondavox::test
