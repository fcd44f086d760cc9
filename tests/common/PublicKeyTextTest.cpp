#include "common/PublicKeyText.h"

#include <gtest/gtest.h>

namespace ondavox {
namespace {

TEST(PublicKeyText, DecodesOnlyTheCanonicalTextOfAKey) {
  std::vector<unsigned char> key(kPublicKeySize);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 37 + 250);
  const std::string text = EncodePublicKey(key);
  EXPECT_EQ(text.size(), 44u);
  EXPECT_EQ(DecodePublicKey(text), key);
  EXPECT_EQ(DecodePublicKey(" " + text + "\r\n"), key);

  EXPECT_FALSE(DecodePublicKey(""));
  EXPECT_FALSE(DecodePublicKey(text.substr(0, 40)));                    // 30 bytes
  EXPECT_FALSE(DecodePublicKey(EncodePublicKey(std::vector<unsigned char>(33))));
  EXPECT_FALSE(DecodePublicKey(text.substr(0, 42) + "!="));             // not base64
  std::string other = text;
  // The last digit's lowest bit carries no bit of the key.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  other[42] = alphabet[alphabet.find(other[42]) ^ 1];
  EXPECT_FALSE(DecodePublicKey(other)) << "two texts must not stand for one key";
}

TEST(PublicKeyText, FingerprintTellsKeysApart) {
  const std::vector<unsigned char> a(kPublicKeySize, 1);
  const std::vector<unsigned char> b(kPublicKeySize, 2);
  EXPECT_EQ(KeyFingerprint(a).rfind("SHA256:", 0), 0u);
  EXPECT_EQ(KeyFingerprint(a).size(), 7u + 43u);
  EXPECT_NE(KeyFingerprint(a), KeyFingerprint(b));
}

}  // namespace
}  // namespace ondavox
