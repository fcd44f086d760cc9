#include "platform/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace ondavox {
namespace {

TEST(Trace, LinesFromManyThreadsArriveWholeAndSinksAreRestored) {
  std::vector<std::string> lines;
  OutputSink previous = SetTraceSink([&](std::string_view line) { lines.emplace_back(line); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) TraceLine("CTCPDialogThread::Run() [ENTER] " + std::to_string(t));
    });
  }
  for (auto& thread : threads) thread.join();
  SetTraceSink(previous);
  ASSERT_EQ(lines.size(), 800u);
  for (const std::string& line : lines) EXPECT_EQ(line.rfind("CTCPDialogThread::Run() [ENTER] ", 0), 0u);

  std::string debug;
  previous = SetDebugSink([&](std::string_view text) { debug += text; });
  DebugOut("[RECEIVE : WHOIS]\n");
  SetDebugSink(previous);
  EXPECT_EQ(debug, "[RECEIVE : WHOIS]\n");
}

}  // namespace
}  // namespace ondavox
