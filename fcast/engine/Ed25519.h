#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/Status.h"

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace ondavox::fcast {

inline constexpr std::size_t kEd25519SeedSize = 32;
inline constexpr std::size_t kEd25519PublicKeySize = 32;
inline constexpr std::size_t kEd25519SignatureSize = 64;

using Ed25519PublicKey = std::array<std::uint8_t, kEd25519PublicKeySize>;
using Ed25519Signature = std::array<std::uint8_t, kEd25519SignatureSize>;

// An Ed25519 private key (OpenSSL's libcrypto): made new, from its 32-byte seed, or read from a
// PEM file (PKCS#8, as `openssl genpkey -algorithm ed25519` writes it). Signs messages. Movable,
// not copyable; Sign may be called from any thread.
class Ed25519Key {
 public:
  static StatusOr<Ed25519Key> Generate();
  // InvalidArgument unless |seed| is kEd25519SeedSize bytes.
  static StatusOr<Ed25519Key> FromSeed(std::span<const std::uint8_t> seed);
  // A format error naming |path| for a file that is not a PEM Ed25519 private key; an I/O error
  // for one that cannot be read.
  static StatusOr<Ed25519Key> ReadPem(const std::string& path);

  Ed25519Key(Ed25519Key&&) noexcept;
  Ed25519Key& operator=(Ed25519Key&&) noexcept;
  ~Ed25519Key();

  // The key as a PKCS#8 PEM text (ReadPem reads it back).
  std::string Pem() const;
  std::array<std::uint8_t, kEd25519SeedSize> Seed() const;
  Ed25519PublicKey PublicKey() const;
  Ed25519Signature Sign(std::span<const std::uint8_t> message) const;

 private:
  explicit Ed25519Key(evp_pkey_st* key) : key_(key) {}
  evp_pkey_st* key_;
};

// True when |signature| is |key|'s signature of |message|.
bool Ed25519Verify(std::span<const std::uint8_t> publicKey, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t> signature);

}  // namespace ondavox::fcast
