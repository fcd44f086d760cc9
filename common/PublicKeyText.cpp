#include "common/PublicKeyText.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

namespace ondavox {
namespace {

std::string Base64(std::span<const unsigned char> bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                      static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(written));
  return text;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

std::string EncodePublicKey(std::span<const unsigned char> key) { return Base64(key); }

std::optional<std::vector<unsigned char>> DecodePublicKey(std::string_view text) {
  text = Trimmed(text);
  // Base64 of 32 bytes is 44 characters ending in exactly one '='.
  constexpr std::size_t kTextSize = 4 * ((kPublicKeySize + 2) / 3);
  if (text.size() != kTextSize || text[kTextSize - 1] != '=' || text[kTextSize - 2] == '=') {
    return std::nullopt;
  }
  std::vector<unsigned char> decoded(3 * kTextSize / 4);
  if (EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size())) < 0) {
    return std::nullopt;
  }
  decoded.resize(kPublicKeySize);  // EVP_DecodeBlock counts the padding as zero bytes
  // Only the canonical text: a key is compared as text in the settings file.
  if (Base64(decoded) != text) return std::nullopt;
  return decoded;
}

std::string KeyFingerprint(std::span<const unsigned char> key) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(key.data(), key.size(), digest);
  std::string text = Base64(digest);
  while (!text.empty() && text.back() == '=') text.pop_back();
  return "SHA256:" + text;
}

}  // namespace ondavox
