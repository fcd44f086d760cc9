#include "fcast/engine/FileDigest.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fcast/engine/PositionedIo.h"
#include "fcast/engine/Sha256.h"

namespace ondavox::fcast {
namespace {

// Symbols read at a time by DigestFile.
constexpr std::uint64_t kReadSymbols = 512;

}  // namespace

SymbolDigest DigestSymbol(std::span<const std::uint8_t> symbol) {
  unsigned char full[SHA256_DIGEST_LENGTH];
  SHA256(symbol.data(), symbol.size(), full);
  SymbolDigest digest;
  std::memcpy(digest.data(), full, digest.size());
  return digest;
}

Sha256Digest DigestSymbols(std::span<const SymbolDigest> symbols) {
  Sha256 hash;
  if (!symbols.empty()) hash.Update({symbols.front().data(), symbols.size_bytes()});
  return hash.Final();
}

Sha256Digest DigestBlocks(std::span<const Sha256Digest> blocks) {
  Sha256 hash;
  if (!blocks.empty()) hash.Update({blocks.front().data(), blocks.size_bytes()});
  return hash.Final();
}

Sha256Digest DigestBytes(std::span<const std::uint8_t> content, const FileLayout& layout) {
  const std::size_t symbolSize = layout.SymbolSize();
  std::vector<std::uint8_t> last(symbolSize, 0);
  std::vector<SymbolDigest> symbols;
  std::vector<Sha256Digest> blocks;
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    symbols.clear();
    for (std::uint32_t id = 0; id < layout.SourceSymbols(block); ++id) {
      const auto symbol = content.subspan(layout.Offset(block, id), layout.Length(block, id));
      if (symbol.size() == symbolSize) {
        symbols.push_back(DigestSymbol(symbol));
      } else {
        std::copy(symbol.begin(), symbol.end(), last.begin());
        symbols.push_back(DigestSymbol(last));
      }
    }
    blocks.push_back(DigestSymbols(symbols));
  }
  return DigestBlocks(blocks);
}

std::optional<Sha256Digest> DigestFile(int fd, const FileLayout& layout,
                                       const std::atomic<bool>* stop) {
  const std::size_t symbolSize = layout.SymbolSize();
  std::vector<std::uint8_t> buffer(kReadSymbols * symbolSize);
  std::vector<SymbolDigest> symbols;
  std::vector<Sha256Digest> blocks;
  blocks.reserve(layout.BlockCount());
  for (std::uint32_t block = 0; block < layout.BlockCount(); ++block) {
    const std::uint32_t count = layout.SourceSymbols(block);
    symbols.resize(count);
    for (std::uint32_t first = 0; first < count; first += kReadSymbols) {
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) return std::nullopt;
      const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadSymbols, count - first));
      const std::uint64_t offset = layout.Offset(block, first);
      const auto bytes = static_cast<std::size_t>(
          std::min<std::uint64_t>(std::uint64_t{run} * symbolSize, layout.FileSize() - offset));
      std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(bytes), buffer.end(), 0);
      if (!ReadAt(fd, buffer.data(), bytes, offset)) return std::nullopt;
      for (std::uint32_t i = 0; i < run; ++i) {
        symbols[first + i] = DigestSymbol({&buffer[i * symbolSize], symbolSize});
      }
    }
    blocks.push_back(DigestSymbols(symbols));
  }
  return DigestBlocks(blocks);
}

}  // namespace ondavox::fcast
