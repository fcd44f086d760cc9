#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "fcast/engine/FileLayout.h"
#include "fcast/engine/Sha256Digest.h"

namespace ondavox::fcast {

// The digest a descriptor carries for a file: the SHA-256 of its blocks' digests, in block
// order; a block's digest is the SHA-256 of its source symbols' digests, in id order; a
// symbol's digest is the first 16 bytes of the SHA-256 of the symbol (symbolSize bytes, the
// file's last symbol padded with zeros). A receiver hashes each symbol as it comes, in any
// order, and only the symbols it rebuilt once a block is decoded: none hashes the whole file
// after its last datagram. Forging a symbol that keeps the digest takes a second preimage of a
// 128-bit truncation of SHA-256. Pure functions; any thread.
inline constexpr std::size_t kSymbolDigestSize = 16;
using SymbolDigest = std::array<std::uint8_t, kSymbolDigestSize>;

SymbolDigest DigestSymbol(std::span<const std::uint8_t> symbol);
// The digest of a block whose symbols' digests are |symbols|, or of a file whose blocks'
// digests are |blocks|.
Sha256Digest DigestSymbols(std::span<const SymbolDigest> symbols);
Sha256Digest DigestBlocks(std::span<const Sha256Digest> blocks);

// The digest of |content| cut as |layout| (of content.size() bytes).
Sha256Digest DigestBytes(std::span<const std::uint8_t> content, const FileLayout& layout);
// The digest of the file |fd| cut as |layout|, read from its start; nothing when a read fails,
// the file is shorter, or |stop| (when given) becomes true while it runs.
std::optional<Sha256Digest> DigestFile(int fd, const FileLayout& layout,
                                       const std::atomic<bool>* stop = nullptr);

}  // namespace ondavox::fcast
