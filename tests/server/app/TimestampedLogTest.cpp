#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "server/app/TimestampedLog.h"

namespace ondavox::server {
namespace {

TEST(TimestampedLog, EachLineIsOneWholeWriteAfterTheLocalTime) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  TimestampedLog log(pipeFds[1]);
  std::vector<std::thread> threads;
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.AppendLog("New client logged : user" + std::to_string(t));
    });
  }
  std::string text;
  const std::size_t expected =
      kThreads * kLines * std::string("2026-12-07 21:30:00 New client logged : user0\n").size();
  char buffer[4096];
  while (text.size() < expected) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    text.append(buffer, static_cast<std::size_t>(n));
  }
  for (std::thread& thread : threads) thread.join();
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d New client logged : user[0-3]\n)");
  std::size_t lines = 0;
  for (std::size_t start = 0; start < text.size(); ++lines) {
    const std::size_t end = text.find('\n', start) + 1;
    EXPECT_TRUE(std::regex_match(text.substr(start, end - start), line))
        << text.substr(start, end - start);
    start = end;
  }
  EXPECT_EQ(lines, std::size_t{kThreads * kLines});
}

}  // namespace
}  // namespace ondavox::server
