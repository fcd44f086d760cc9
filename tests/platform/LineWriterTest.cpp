#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/LineWriter.h"
#include "tests/support/TempDir.h"

namespace ondavox {
namespace {

// A pipe whose reader stops reading: the writers of many threads still return at once, lines
// that do not fit are dropped and counted, and once the reader drains, the lines that were
// kept arrive whole, in each thread's order, with the reports of the dropped ones.
TEST(LineWriter, AStalledReaderNeverHoldsUpTheWritersAndDropsAreReported) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  LineWriter& writer = LineWriter::ForFd(pipeFds[1]);
  constexpr int kThreads = 4;
  constexpr int kLines = 25000;
  std::atomic<int> finished{0};
  std::atomic<long> dropped{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        if (!writer.Write("CTCPDialogThread::Run() " + std::to_string(t) + " " + std::to_string(i) +
                          "\n")) {
          ++dropped;
        }
      }
      ++finished;
    });
  }
  // Far beyond the time the lines take; a writer that waits on the reader never finishes.
  const bool prompt = test::WaitFor([&] { return finished == kThreads; }, std::chrono::seconds(20));

  std::string text;
  std::thread reader([&] {
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(prompt);
  EXPECT_GT(dropped.load(), 0);
  EXPECT_TRUE(writer.Flush(std::chrono::seconds(10)));
  EXPECT_TRUE(writer.Write("after the reader came back\n"));
  EXPECT_TRUE(writer.Flush(std::chrono::seconds(10)));
  ::close(pipeFds[1]);
  reader.join();
  ::close(pipeFds[0]);

  const std::regex kept(R"(CTCPDialogThread::Run\(\) ([0-3]) (\d+))");
  const std::regex report(R"(\[(\d+) lines dropped\])");
  std::vector<int> last(kThreads, -1);
  long reported = 0;
  std::size_t keptLines = 0;
  std::smatch match;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (std::regex_match(line, match, kept)) {
      const int thread = std::stoi(match[1]);
      const int index = std::stoi(match[2]);
      EXPECT_GT(index, last[thread]) << line;
      last[thread] = index;
      ++keptLines;
    } else if (std::regex_match(line, match, report)) {
      reported += std::stol(match[1]);
    } else {
      EXPECT_EQ(line, "after the reader came back");
      EXPECT_EQ(end + 1, text.size());
    }
  }
  EXPECT_EQ(start, text.size());  // the last line is whole
  EXPECT_EQ(reported, dropped.load());
  EXPECT_EQ(keptLines + static_cast<std::size_t>(dropped.load()), std::size_t{kThreads * kLines});
}

}  // namespace
}  // namespace ondavox
