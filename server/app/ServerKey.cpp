#include "server/app/ServerKey.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "common/PublicKeyText.h"
#include "fcast/engine/Ed25519.h"
#include "platform/AtomicFile.h"

namespace ondavox::server {
namespace {

using fcast::Ed25519Key;

// The content of |path|; nothing when it does not exist.
StatusOr<std::optional<std::string>> ReadOptionalFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    if (errno == ENOENT) return std::optional<std::string>();
    return PosixError("cannot read " + path, errno);
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return PosixError("cannot read " + path, errno);
  return std::optional<std::string>(content.str());
}

Status WritePublicKey(const std::string& path, const ServerKey& key) {
  return WriteFileAtomically(path, key.PublicKeyText() + "\n", FileAccess::kShared);
}

}  // namespace

StatusOr<ServerKey> ServerKey::LoadOrCreate(const std::string& folder) {
  const std::string keyPath = folder + "/" + kPrivateKeyFile;
  const std::string publicPath = folder + "/" + kPublicKeyFile;
  StatusOr<std::optional<std::string>> publicText = ReadOptionalFile(publicPath);
  if (!publicText.ok()) return publicText.status();

  struct stat st {};
  if (::stat(keyPath.c_str(), &st) != 0) {
    if (errno != ENOENT) return PosixError("cannot read " + keyPath, errno);
    if (*publicText) {
      return Status::InvalidArgument(
          publicPath + " exists without " + keyPath +
          ": the server's key was lost. Restore server.key, or remove server.pub to make a new "
          "key, which every client must then pin again.");
    }
    StatusOr<Ed25519Key> made = Ed25519Key::Generate();
    if (!made.ok()) return made.status();
    const auto seed = made->Seed();
    const auto publicKey = made->PublicKey();
    ServerKey key({seed.begin(), seed.end()}, {publicKey.begin(), publicKey.end()});
    Status written = WriteFileAtomically(keyPath, made->Pem(), FileAccess::kOwnerOnly);
    if (written.ok()) written = WritePublicKey(publicPath, key);
    if (!written.ok()) return written;
    return key;
  }
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return Status::InvalidArgument(keyPath + " is open to other users (mode " + mode +
                                   "); if it is still secret, make it 0600 (chmod 600 " + keyPath +
                                   ").");
  }
  StatusOr<Ed25519Key> read = Ed25519Key::ReadPem(keyPath);
  if (!read.ok()) return read.status();
  const auto seed = read->Seed();
  const auto publicKey = read->PublicKey();
  ServerKey key({seed.begin(), seed.end()}, {publicKey.begin(), publicKey.end()});
  if (!*publicText) {
    Status written = WritePublicKey(publicPath, key);
    if (!written.ok()) return written;
  } else if (DecodePublicKey(**publicText) != key.publicKey()) {
    return Status::InvalidArgument(
        publicPath + " is not the public key of " + keyPath +
        ": one of them was replaced. Restore the matching pair, or remove server.pub to have it "
        "written again from server.key.");
  }
  return key;
}

std::string ServerKey::PublicKeyText() const { return EncodePublicKey(publicKey_); }

std::string ServerKey::Fingerprint() const { return KeyFingerprint(publicKey_); }

}  // namespace ondavox::server
