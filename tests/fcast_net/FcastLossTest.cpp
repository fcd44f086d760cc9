// Independent loss at every receiver: thirty transfers of different sizes, from one block to
// several, each its own file, against what the rounds given to the sender must withstand.
#include <gtest/gtest.h>

#include "tests/fcast_net/Delivery.h"

namespace ondavox::fcast_net {
namespace {

// Sizes from 5,000 bytes (one block) to about 390,000 (three blocks).
std::vector<SourceFile> ThirtyFiles(const std::filesystem::path& folder) {
  std::vector<SourceFile> sources;
  for (std::uint32_t i = 0; i < 30; ++i) {
    sources.push_back(WriteSource(folder, "transfer-" + std::to_string(i) + ".bin", 5000 + i * 13331ull, 100 + i));
  }
  return sources;
}

TEST(FcastLoss, TwoRoundsCompleteEveryTransferAtEveryReceiverLosingTwentyPercent) {
  auto fcast = FcastLab::Create(1 + Delivery::kReceivers);
  ASSERT_NE(fcast, nullptr);
  const std::vector<SourceFile> sources = ThirtyFiles(fcast->Folder() / "out");
  const Delivery delivery = Delivery::Run(*fcast, sources, 200, 40000, 2);
  EXPECT_EQ(delivery.CompleteEverywhere(), 30) << delivery.Incomplete();
}

TEST(FcastLoss, ThreeRoundsCompleteNearlyEveryTransferAtEveryReceiverLosingHalf) {
  auto fcast = FcastLab::Create(1 + Delivery::kReceivers);
  ASSERT_NE(fcast, nullptr);
  const std::vector<SourceFile> sources = ThirtyFiles(fcast->Folder() / "out");
  const Delivery delivery = Delivery::Run(*fcast, sources, 500, 40000, 3);
  EXPECT_GE(delivery.CompleteEverywhere(), 29) << delivery.Incomplete();
}

}  // namespace
}  // namespace ondavox::fcast_net
