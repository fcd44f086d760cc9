#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondavox {

// The server's Ed25519 public key as texts carry it: the KEY reply, the client's settings file,
// server.pub and the control channel write it in base64; windows and logs show its fingerprint.
// Pure functions; any thread.

inline constexpr std::size_t kPublicKeySize = 32;

// Base64 (with padding) of |key|.
std::string EncodePublicKey(std::span<const unsigned char> key);
// The key that |text| encodes, surrounding blanks ignored; nothing when |text| is not base64 of
// exactly kPublicKeySize bytes.
std::optional<std::vector<unsigned char>> DecodePublicKey(std::string_view text);
// "SHA256:" followed by the unpadded base64 of the key's SHA-256 digest.
std::string KeyFingerprint(std::span<const unsigned char> key);

}  // namespace ondavox
