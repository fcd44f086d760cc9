#pragma once

#include <string>
#include <vector>

#include "platform/Status.h"

namespace ondavox::server {

// The server's Ed25519 key pair, which signs every file the server broadcasts and which clients
// pin. It lives in two files of the server's data folder: server.key, the private key (PEM
// PKCS#8, mode 0600), and server.pub, its public key in base64 and a line feed (readable by
// all, for the operator to copy to the clients).
//
// LoadOrCreate makes the pair when neither file exists. Otherwise server.key is the key, and it
// is never replaced: clients that pinned it would refuse every file signed by another. It
// refuses, naming the file: a server.key that cannot be read, is not an Ed25519 key, or can be
// read by others than its owner (it may have been copied; the operator decides whether to keep
// it); a server.pub without its server.key (the key was lost); a server.pub that does not
// encode server.key's public key (one of the two was replaced; the operator may have handed the
// wrong one out). A missing server.pub is written again from server.key.
//
// A value; any thread.
class ServerKey {
 public:
  static constexpr char kPrivateKeyFile[] = "server.key";
  static constexpr char kPublicKeyFile[] = "server.pub";

  static StatusOr<ServerKey> LoadOrCreate(const std::string& folder);

  // The private key's 32-byte seed, as the Fcast sender takes it.
  const std::vector<unsigned char>& seed() const { return seed_; }
  const std::vector<unsigned char>& publicKey() const { return publicKey_; }
  // The public key in base64 (the KEY reply, server.pub, a client's serverKey setting).
  std::string PublicKeyText() const;
  // "SHA256:..." of the public key.
  std::string Fingerprint() const;

 private:
  ServerKey(std::vector<unsigned char> seed, std::vector<unsigned char> publicKey)
      : seed_(std::move(seed)), publicKey_(std::move(publicKey)) {}

  std::vector<unsigned char> seed_;
  std::vector<unsigned char> publicKey_;
};

}  // namespace ondavox::server
