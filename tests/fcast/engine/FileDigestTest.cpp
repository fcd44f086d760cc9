#include "fcast/engine/FileDigest.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "fcast/engine/Sha256.h"
#include "platform/UniqueFd.h"
#include "tests/support/TempDir.h"

namespace ondavox::fcast {
namespace {

using test::RandomBytes;
using test::TempDir;
using test::WriteFile;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(FileDigest, TheFileAndItsBytesAgreeAndEveryByteAndCutCounts) {
  TempDir dir;
  for (const std::size_t size : {0ul, 1ul, 64ul, 65ul, 64ul * 9 + 5, 64ul * 600 + 3}) {
    SCOPED_TRACE(size);
    const std::string content = RandomBytes(size, static_cast<std::uint32_t>(size));
    WriteFile(dir.path() / "file", content);
    const UniqueFd fd(::open((dir.path() / "file").c_str(), O_RDONLY | O_CLOEXEC));
    const FileLayout layout = *FileLayout::Make(size, 64, 4);
    const Sha256Digest digest = DigestBytes(Bytes(content), layout);
    EXPECT_EQ(DigestFile(fd.Get(), layout), digest);
    if (size == 0) {
      EXPECT_EQ(ToHex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
      continue;
    }
    // A byte changed, or the same bytes cut into other blocks.
    std::string changed = content;
    changed[size / 2] ^= 1;
    EXPECT_NE(DigestBytes(Bytes(changed), layout), digest);
    if (layout.BlockCount() > 1) {
      EXPECT_NE(DigestBytes(Bytes(content), *FileLayout::Make(size, 64, 5)), digest);
    }
    // A file shorter than its layout, or a stop, gives nothing.
    EXPECT_FALSE(DigestFile(fd.Get(), *FileLayout::Make(size + 64, 64, 4)));
    const std::atomic<bool> stop{true};
    EXPECT_FALSE(DigestFile(fd.Get(), layout, &stop));
  }
}

}  // namespace
}  // namespace ondavox::fcast
