#include "fcast/engine/Sha256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "fcast/engine/PositionedIo.h"

namespace ondavox::fcast {

struct Sha256::Context {
  EVP_MD_CTX* md = nullptr;
};

Sha256::Sha256() : context_(new Context) {
  context_->md = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr);
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(context_->md);
  delete context_;
}

void Sha256::Update(std::span<const std::uint8_t> bytes) {
  EVP_DigestUpdate(context_->md, bytes.data(), bytes.size());
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->md, digest.data(), &length);
  return digest;
}

std::optional<Sha256Digest> HashFile(int fd, std::uint64_t size, const std::atomic<bool>* stop) {
  Sha256 hash;
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  std::uint64_t offset = 0;
  while (offset < size) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return std::nullopt;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
    if (!ReadAt(fd, buffer.data(), want, offset)) return std::nullopt;
    hash.Update({buffer.data(), want});
    offset += want;
  }
  return hash.Final();
}

std::string ToHex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}

}  // namespace ondavox::fcast
