#include "server/net/DeliveryLedger.h"

#include <fcntl.h>

#include <algorithm>
#include <mutex>

#include "fcast/engine/Sha256.h"
#include "platform/UniqueFd.h"

namespace ondavox::server {

struct DeliveryLedger::Kept {
  Transfer transfer;  // holders under the ledger's mutex
  std::once_flag hashed;
  std::string sha256Hex;  // empty when the file could not be read
};

namespace {

// The SHA-256 of the first |size| bytes of |path| in lowercase hex; empty when it cannot be
// read.
std::string HashOf(const std::string& path, long long size) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.Valid() || size < 0) return {};
  const std::optional<fcast::Sha256Digest> digest =
      fcast::HashFile(file.Get(), static_cast<std::uint64_t>(size));
  return digest ? fcast::ToHex(*digest) : std::string();
}

}  // namespace

void DeliveryLedger::TransferStarted(const CDocInfo& entry, long long size) {
  auto kept = std::make_shared<Kept>();
  kept->transfer.entry = entry;
  kept->transfer.size = size;
  MutexLock lock(mu_);
  kept_.push_front(std::move(kept));
  if (kept_.size() > kKeptTransfers) kept_.pop_back();
}

void DeliveryLedger::TransferAbandoned(const CDocInfo& entry) {
  MutexLock lock(mu_);
  if (!kept_.empty() && kept_.front()->transfer.entry.path() == entry.path()) kept_.pop_front();
}

DeliveryLedger::Receipt DeliveryLedger::Record(const std::string& login,
                                               const std::string& fileName, long long size,
                                               const std::string& sha256Hex, std::time_t when) {
  std::shared_ptr<Kept> kept;
  {
    MutexLock lock(mu_);
    const auto found = std::find_if(kept_.begin(), kept_.end(), [&](const auto& candidate) {
      return candidate->transfer.entry.fileName() == fileName;
    });
    if (found == kept_.end()) return Receipt::kUnknownFile;
    kept = *found;
  }
  if (size != kept->transfer.size) return Receipt::kWrongSize;
  // Outside the lock: other receipts and the status go on while a large file is hashed.
  std::call_once(kept->hashed, [&kept] {
    kept->sha256Hex = HashOf(kept->transfer.entry.path(), kept->transfer.size);
  });
  if (kept->sha256Hex.empty() || sha256Hex != kept->sha256Hex) return Receipt::kWrongDigest;
  MutexLock lock(mu_);
  std::vector<Holder>& holders = kept->transfer.holders;
  const bool known = std::any_of(holders.begin(), holders.end(),
                                 [&](const Holder& holder) { return holder.login == login; });
  if (!known) holders.push_back({login, when});
  return Receipt::kRecorded;
}

std::vector<DeliveryLedger::Transfer> DeliveryLedger::Transfers() const {
  MutexLock lock(mu_);
  std::vector<Transfer> transfers;
  transfers.reserve(kept_.size());
  for (const auto& kept : kept_) transfers.push_back(kept->transfer);
  return transfers;
}

}  // namespace ondavox::server
