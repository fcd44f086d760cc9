#include "client/core/ServerKeyTrust.h"

#include "client/core/ClientLog.h"
#include "common/PublicKeyText.h"
#include "common/ReplyCodes.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

constexpr char kTag[] = "KEY";
constexpr char kUntilCleared[] = ": files will be refused until serverKey is cleared in client.ini";

}  // namespace

ServerKeyTrust::ServerKeyTrust(std::shared_ptr<FcastReceiverObject> receiver)
    : receiver_(std::move(receiver)) {}

void ServerKeyTrust::Load(const std::string& pinnedText, Store store) {
  MutexLock lock(mu_);
  store_ = std::move(store);
  pinnedText_ = pinnedText;
  pinned_.reset();
  if (pinnedText.empty()) return;
  pinned_ = DecodePublicKey(pinnedText);
  if (!pinned_) {
    AppendLog("serverKey in client.ini is not a key" + std::string(kUntilCleared), kTag);
    return;
  }
  if (receiver_ != nullptr) receiver_->SetTrustedKey(*pinned_);
}

void ServerKeyTrust::SetAlert(Alert alert) {
  MutexLock lock(mu_);
  alert_ = std::move(alert);
}

std::string ServerKeyTrust::PinnedFingerprint() const {
  MutexLock lock(mu_);
  return pinned_ ? KeyFingerprint(*pinned_) : std::string();
}

bool ServerKeyTrust::FilesRefused() const {
  MutexLock lock(mu_);
  return !pinnedText_.empty() && !pinned_;
}

std::string ServerKeyTrust::PinnedName() const {
  return pinned_ ? "the pinned key " + KeyFingerprint(*pinned_) : "the pinned text";
}

void ServerKeyTrust::Refuse(const std::string& text) {
  AppendLog(text, kTag);
  if (alert_) alert_(text);
}

void ServerKeyTrust::TakeKeyReply(std::string_view reply) {
  MutexLock lock(mu_);
  if (reply == kUnknownCommand) {
    if (pinnedText_.empty()) {
      AppendLog("The server has no key: files are not authenticated", kTag);
    } else {
      Refuse("The server has no key, but " + PinnedName() + " is pinned" + kUntilCleared);
    }
    return;
  }
  const std::size_t tab = reply.find('\t');
  if (tab == std::string_view::npos || reply.substr(0, tab) != kServerKey) {
    DebugOut("ServerKeyTrust: no key in the reply to KEY\n");
    return;
  }
  TakeKey(reply.substr(tab + 1));
}

void ServerKeyTrust::TakeKey(std::string_view text) {
  const std::optional<std::vector<unsigned char>> key = DecodePublicKey(text);
  if (pinnedText_.empty()) {
    if (!key) {
      Refuse("The server's key is malformed and was not pinned: files are not authenticated");
      return;
    }
    const std::string encoded = EncodePublicKey(*key);
    if (store_ && !store_(encoded)) {
      AppendLog("The server's key could not be written to client.ini", "ERROR");
    }
    pinnedText_ = encoded;
    pinned_ = key;
    if (receiver_ != nullptr) receiver_->SetTrustedKey(*key);
    AppendLog("Pinned the server's key " + KeyFingerprint(*key), kTag);
    return;
  }
  if (key && pinned_ == key) {
    TraceLine("ServerKeyTrust: the server's key is the pinned one");
    return;
  }
  const std::string given = key ? "key " + KeyFingerprint(*key) : "malformed key";
  Refuse("The server's " + given + " is not " + PinnedName() + kUntilCleared);
}

}  // namespace ondavox::client
