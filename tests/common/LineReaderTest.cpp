#include "common/LineReader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "tests/support/ThreadGuard.h"

namespace ondavox {
namespace {

using test::ThreadGuard;

// A reader over |bytes| that hands them out |chunk| bytes per read, then reports a close (or
// an error when |failAtEnd|), as a socket would.
LineReader MemoryReader(std::string bytes, std::size_t chunk, bool failAtEnd = false) {
  auto offset = std::make_shared<std::size_t>(0);
  return LineReader([bytes = std::move(bytes), chunk, failAtEnd, offset](
                        char* buffer, std::size_t capacity) -> long {
    if (*offset == bytes.size()) return failAtEnd ? -1 : 0;
    const std::size_t n = std::min({chunk, capacity, bytes.size() - *offset});
    std::memcpy(buffer, bytes.data() + *offset, n);
    *offset += n;
    return static_cast<long>(n);
  });
}

// Every message the reader yields until it yields nothing; "<none>" marks a read that gave
// nothing while more bytes were still to come (an empty line).
std::vector<std::string> Messages(std::string bytes, std::size_t chunk, int reads = 8) {
  LineReader reader = MemoryReader(std::move(bytes), chunk);
  std::vector<std::string> out;
  for (int i = 0; i < reads; ++i) {
    std::optional<std::string> message = reader.ReadLine();
    out.push_back(message ? *message : "<none>");
  }
  while (!out.empty() && out.back() == "<none>") out.pop_back();
  return out;
}

// The same stream must frame the same way whatever the sizes of the reads.
void ExpectFraming(const std::string& bytes, const std::vector<std::string>& expected) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4096}}) {
    EXPECT_EQ(Messages(bytes, chunk), expected) << "read size " << chunk;
  }
}

TEST(LineReader, SplitsAtLineFeedsAndDropsCarriageReturns) {
  ExpectFraming("LOGIN\tann\tpw\t10.0.0.2\t1234\r\nWHOIS\tann\n",
                {"LOGIN\tann\tpw\t10.0.0.2\t1234", "WHOIS\tann"});
  ExpectFraming("A\rB\r\r\n", {"AB"});
}

TEST(LineReader, EmptyLineAndCarriageReturnsOnlyAreNoMessage) {
  LineReader reader = MemoryReader("\nX\n\r\r\nY\n", 3);
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
  EXPECT_EQ(reader.ReadLine(), "X");
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
  EXPECT_EQ(reader.ReadLine(), "Y");
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(LineReader, UnterminatedLineBeforeCloseIsDelivered) {
  LineReader reader = MemoryReader("WHOIS\tann", 4);
  EXPECT_EQ(reader.ReadLine(), "WHOIS\tann");
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(LineReader, ReadErrorDiscardsThePartialLine) {
  LineReader reader = MemoryReader("OK\nWHOIS\tan", 5, /*failAtEnd=*/true);
  EXPECT_EQ(reader.ReadLine(), "OK");
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
}

TEST(LineReader, OverLongLineYieldsItsHeadAndDropsTheRest) {
  const std::string head(LineReader::kMaxLine, 'a');
  // 300 characters: one message of 256, the remaining 44 and the line feed dropped.
  ExpectFraming(head + std::string(44, 'b') + "\nNEXT\n", {head, "NEXT"});
  // Exactly 256 characters (carriage returns not counted) is an ordinary line.
  ExpectFraming(head + "\r\nNEXT\n", {head, "NEXT"});
  ExpectFraming("\r" + head + "\r\r\nNEXT\n", {head, "NEXT"});
  // 257 characters, and a tail that straddles reads and closes without a line feed.
  ExpectFraming(head + "b\nNEXT\n", {head, "NEXT"});
  ExpectFraming(head + std::string(5000, 'c'), {head});
  // Several over-long lines in a row.
  ExpectFraming(head + "x\n" + head + "y\n", {head, head});
}

TEST(LineReader, ReadsFromASocketAndSeesTheClose) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  Socket reading(fds[0]);
  Socket writing(fds[1]);
  std::thread writer([&] {
    for (int i = 0; i < 1000; ++i) {
      ASSERT_TRUE(SendAll(writing.Fd(), "FILEINFO\tclip" + std::to_string(i) + ".avi\tann\n"));
    }
    writing.Close();
  });
  ThreadGuard guard(writer, [&] { reading.Shutdown(); });
  LineReader reader = LineReader::ForSocket(reading.Fd());
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(reader.ReadLine(), "FILEINFO\tclip" + std::to_string(i) + ".avi\tann");
  }
  EXPECT_EQ(reader.ReadLine(), std::nullopt);
  writer.join();
}

}  // namespace
}  // namespace ondavox
