#include "fcast/engine/Ed25519.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

namespace ondavox::fcast {

namespace {

struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

struct PkeyContextFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

}  // namespace

Ed25519Key::Ed25519Key(Ed25519Key&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
Ed25519Key& Ed25519Key::operator=(Ed25519Key&& other) noexcept {
  std::swap(key_, other.key_);
  return *this;
}
Ed25519Key::~Ed25519Key() { EVP_PKEY_free(key_); }

StatusOr<Ed25519Key> Ed25519Key::Generate() {
  std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree> context(
      EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
  EVP_PKEY* key = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_keygen(context.get(), &key) != 1) {
    return Status::IoError("cannot make an Ed25519 key");
  }
  return Ed25519Key(key);
}

StatusOr<Ed25519Key> Ed25519Key::FromSeed(std::span<const std::uint8_t> seed) {
  if (seed.size() != kEd25519SeedSize) {
    return Status::InvalidArgument("an Ed25519 seed is 32 bytes, not " +
                                   std::to_string(seed.size()));
  }
  EVP_PKEY* key =
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size());
  if (key == nullptr) return Status::InvalidArgument("not an Ed25519 seed");
  return Ed25519Key(key);
}

StatusOr<Ed25519Key> Ed25519Key::ReadPem(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return PosixError("cannot read " + path, errno);
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key == nullptr) return Status::FormatError(path, 0, "not a PEM private key");
  if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(key);
    return Status::FormatError(path, 0, "not an Ed25519 key");
  }
  return Ed25519Key(key);
}

std::string Ed25519Key::Pem() const {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), key_, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::array<std::uint8_t, kEd25519SeedSize> Ed25519Key::Seed() const {
  std::array<std::uint8_t, kEd25519SeedSize> seed{};
  std::size_t size = seed.size();
  EVP_PKEY_get_raw_private_key(key_, seed.data(), &size);
  return seed;
}

Ed25519PublicKey Ed25519Key::PublicKey() const {
  Ed25519PublicKey key{};
  std::size_t size = key.size();
  EVP_PKEY_get_raw_public_key(key_, key.data(), &size);
  return key;
}

Ed25519Signature Ed25519Key::Sign(std::span<const std::uint8_t> message) const {
  Ed25519Signature signature{};
  std::size_t size = signature.size();
  MdContext context(EVP_MD_CTX_new());
  EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_);
  EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size());
  return signature;
}

bool Ed25519Verify(std::span<const std::uint8_t> publicKey, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t> signature) {
  if (publicKey.size() != kEd25519PublicKeySize || signature.size() != kEd25519SignatureSize) {
    return false;
  }
  EVP_PKEY* key =
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size());
  if (key == nullptr) return false;
  MdContext context(EVP_MD_CTX_new());
  const bool valid =
      context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1 &&
      EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(),
                       message.size()) == 1;
  EVP_PKEY_free(key);
  return valid;
}

}  // namespace ondavox::fcast
