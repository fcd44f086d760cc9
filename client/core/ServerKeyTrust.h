#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FcastComponent.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The server's key as this client trusts it. The first key a server gives in answer to KEY is
// pinned (trust on first use) and written to client.ini at once; from then on a server that
// gives another key, a key that is no key, or none is refused loudly and its files are refused by
// the receiver, until the operator clears serverKey in client.ini. The pinned key is handed to
// the component's receiver object whenever it is known (at Load) or pinned.
//
// Owned by the ClientRunner. Load and SetAlert: the window thread (or the headless main thread),
// before the first session; TakeKeyReply: the TCP session thread; the rest any thread.
class ServerKeyTrust {
 public:
  // Writes the newly pinned key's text to the settings file; false when it could not.
  using Store = std::function<bool(const std::string& text)>;
  // Shows a refusal to the user beyond the log (a message box); may be empty.
  using Alert = std::function<void(const std::string& text)>;

  // |receiver| is the component's receiver object, null when it could not be made.
  explicit ServerKeyTrust(std::shared_ptr<FcastReceiverObject> receiver);

  // Takes the serverKey text of client.ini (empty: nothing pinned) and where to write a pin. A
  // text that is no key is logged and makes every file refused (FilesRefused).
  void Load(const std::string& pinnedText, Store store) EXCLUDES(mu_);
  void SetAlert(Alert alert) EXCLUDES(mu_);

  // Acts on the server's reply to KEY: "230<TAB>key" pins or checks the key, "406" (a server
  // without a key) is logged; any other reply changes nothing.
  void TakeKeyReply(std::string_view reply) EXCLUDES(mu_);

  // "SHA256:..." of the pinned key; empty when none is pinned.
  std::string PinnedFingerprint() const EXCLUDES(mu_);
  // True when client.ini pins a text that is no key: no file can be authenticated, so no
  // reception starts.
  bool FilesRefused() const EXCLUDES(mu_);

 private:
  void TakeKey(std::string_view text) REQUIRES(mu_);
  // Logs |text| and shows it through the alert.
  void Refuse(const std::string& text) REQUIRES(mu_);
  // The pinned key, or "the pinned text" when that is no key.
  std::string PinnedName() const REQUIRES(mu_);

  const std::shared_ptr<FcastReceiverObject> receiver_;

  mutable Mutex mu_;
  std::string pinnedText_ GUARDED_BY(mu_);
  std::optional<std::vector<unsigned char>> pinned_ GUARDED_BY(mu_);
  Store store_ GUARDED_BY(mu_);
  Alert alert_ GUARDED_BY(mu_);
};

}  // namespace ondavox::client
