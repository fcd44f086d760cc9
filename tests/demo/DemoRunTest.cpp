// The demo with no display: run-demo prepares the folder, then does the main job headless on two
// private hosts (ondavoxd, ondavox-recv logged in as the demo user, the samples enqueued with
// ondavoxctl) and stops both programs once every sample has arrived.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

namespace fs = std::filesystem;

TEST(DemoWithoutDisplay, BroadcastsEverySampleToAHeadlessClientAndStops) {
  TempDir dir;
  const fs::path demo = dir.path() / "demo";
  const fs::path out = dir.path() / "out.txt";
  ChildProcess run({RUN_DEMO, BIN_DIR, demo.string()}, dir.path(), out,
                   {"DISPLAY", "ONDAVOX_IN_PRIVATE_NETWORK", "ONDAVOX_DEMO_NETWORK"});
  ASSERT_EQ(run.Wait(std::chrono::seconds(150)), 0) << ReadFile(out);
  const std::string output = ReadFile(out);
  for (const char* sample : {"tone.wav", "gradient.ppm", "welcome.txt"}) {
    EXPECT_NE(output.find(std::string("received: ") + sample), std::string::npos) << output;
    EXPECT_EQ(ReadFile(demo / "client" / "download" / sample),
              ReadFile(demo / "server" / "upload" / sample))
        << sample;
  }
  // Both programs were stopped by SIGTERM: the client logged out, the server saved.
  EXPECT_NE(output.find("[server] "), std::string::npos) << output;
  EXPECT_NE(output.find("Server stopped."), std::string::npos) << output;
  EXPECT_NE(output.find("Demo done"), std::string::npos) << output;
}

}  // namespace
}  // namespace ondavox::test
