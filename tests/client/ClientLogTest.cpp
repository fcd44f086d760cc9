#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "client/core/ClientLog.h"
#include "tests/client/ClientTestSupport.h"

namespace ondavox::client {
namespace {

class Lines final : public LogBox {
 public:
  void AppendLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;  // ClientLog never calls two at once
};

TEST(ClientLog, LineFormat) {
  ClientLog log([] { return ClientLog::LocalTime{9, 5, 1}; });
  Lines box;
  log.SetLogBox(&box);
  log.Append("No item selected");
  log.Append("You are connected", "INFO");
  log.Append("", "UDP");
  log.Append("LOGIN\tann\tpw", "SEND");
  EXPECT_EQ(box.lines, (std::vector<std::string>{
                           "09:05:01 > No item selected", "09:05:01 > [INFO] You are connected",
                           "09:05:01 > [UDP] ", "09:05:01 > [SEND] LOGIN\tann\tpw"}));
  EXPECT_EQ(ClientLog::FormatLine({23, 59, 0}, "TCP", "201"), "23:59:00 > [TCP] 201");
  log.SetLogBox(nullptr);
}

TEST(ClientLog, LinesBeforeTheBoxAreKeptInOrder) {
  ClientLog log([] { return ClientLog::LocalTime{14, 3, 59}; });
  log.Append("libfcast.so non registered", "FCAST");
  log.Append("second");
  Lines first;
  log.SetLogBox(&first);
  log.Append("third");
  log.SetLogBox(nullptr);
  log.Append("while no box");
  Lines second;
  log.SetLogBox(&second);
  EXPECT_EQ(first.lines, (std::vector<std::string>{"14:03:59 > [FCAST] libfcast.so non registered",
                                                   "14:03:59 > second", "14:03:59 > third"}));
  EXPECT_EQ(second.lines, (std::vector<std::string>{"14:03:59 > while no box"}));
  log.SetLogBox(nullptr);
}

TEST(ClientLog, ManyThreadsLoseNoLineAndKeepEachThreadsOrder) {
  ClientLog log;
  Lines box;
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) {
        log.Append(std::to_string(t) + ":" + std::to_string(i), "T");
      }
    });
    // The box arrives while lines are being written.
    if (t == 1) log.SetLogBox(&box);
  }
  for (std::thread& thread : threads) thread.join();
  log.SetLogBox(nullptr);

  ASSERT_EQ(box.lines.size(), static_cast<std::size_t>(kThreads * kLines));
  std::map<int, int> next;
  for (const std::string& line : box.lines) {
    const std::size_t tag = line.find(" > [T] ");
    ASSERT_EQ(tag, 8u) << line;
    const std::string body = line.substr(tag + 7);
    const int thread = std::stoi(body.substr(0, body.find(':')));
    const int index = std::stoi(body.substr(body.find(':') + 1));
    EXPECT_EQ(index, next[thread]++) << "out of order or interleaved: " << line;
  }
}

}  // namespace
}  // namespace ondavox::client
