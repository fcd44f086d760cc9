// A file over 4 GiB, so that every size, offset and count that could be 32 bits wide is
// crossed. The source is sparse with distinct bytes around the 4 GiB boundary and at its
// ends; one receiver, so the disk holds the copy only once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "tests/fcast_net/FcastLab.h"

namespace ondavox::fcast_net {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kSize = (std::uint64_t{4} << 30) + 1025;

void WriteAt(int fd, std::uint64_t offset, const std::string& bytes) {
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
}

TEST(FcastLargeFile, FileOverFourGibibytesArrivesIdentical) {
  auto fcast = FcastLab::Create(2);
  ASSERT_NE(fcast, nullptr);
  const auto source = fcast->Folder() / "large.bin";
  {
    const UniqueFd fd(::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.Valid());
    ASSERT_EQ(::ftruncate(fd.Get(), static_cast<off_t>(kSize)), 0);
    WriteAt(fd.Get(), 0, PatternBytes(1 << 20, 1));
    WriteAt(fd.Get(), (std::uint64_t{4} << 30) - (1 << 19),
            PatternBytes((1 << 19) + 1000, 2));                                // across 2^32
    WriteAt(fd.Get(), (std::uint64_t{2} << 30) - 700, PatternBytes(5000, 3));  // across 2^31
    WriteAt(fd.Get(), kSize - 3000, PatternBytes(3000, 4));
  }
  ASSERT_EQ(std::filesystem::file_size(source), kSize);
  const std::string sha256 = Sha256HexOfFile(source);

  auto receiver = fcast->StartReceiver(1, fcast->Folder() / "in", 1, 1200);
  ASSERT_NE(receiver, nullptr);
  auto sender = fcast->StartSender(0, 500'000, 3, {source});
  ASSERT_NE(sender, nullptr);
  EXPECT_EQ(receiver->Wait(1200s), 0) << receiver->Output() << receiver->Errors();
  const std::vector<Completion> completions = Completions(receiver->Output());
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0].name, "large.bin");
  EXPECT_EQ(completions[0].size, kSize);
  const auto copy = fcast->Folder() / "in" / "large.bin";
  EXPECT_EQ(std::filesystem::file_size(copy), kSize);
  EXPECT_EQ(Sha256HexOfFile(copy), sha256);
  sender->Kill();
}

}  // namespace
}  // namespace ondavox::fcast_net
