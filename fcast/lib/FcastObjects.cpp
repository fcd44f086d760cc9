#include "fcast/lib/FcastObjects.h"

#include <algorithm>

#include "fcast/engine/Ed25519.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"

namespace ondavox::fcast {

long SenderObject::Init(const std::string& group, long port, long plannedRounds, long rate) {
  MutexLock lock(mu_);
  sender_.reset();
  if (port <= 0 || port > 65535 || rate <= 0) return kFcastInvalidArgument;
  SenderOptions options;
  options.group = group;
  options.port = static_cast<std::uint16_t>(port);
  options.plannedRounds = static_cast<int>(std::clamp<long>(plannedRounds, 1, 255));
  options.rateBytesPerSecond = rate;
  options.interface = interface_;
  options.signingSeed = signingSeed_;
  auto created = CarouselSender::Create(options);
  if (!created.ok()) {
    DebugOut("Fcast sender: " + created.status().message() + "\n");
    return kFcastFail;
  }
  sender_ = std::move(*created);
  return kFcastOk;
}

long SenderObject::SendFile(const std::string& path) {
  MutexLock lock(mu_);
  if (!sender_) return kFcastFail;
  if (const Status sending = sender_->SendFile(path); !sending.ok()) {
    DebugOut("Fcast sender: " + sending.message() + "\n");
    return kFcastFail;
  }
  return kFcastOk;
}

long SenderObject::Stop() {
  MutexLock lock(mu_);
  if (sender_) sender_->Stop();
  return kFcastOk;
}

long SenderObject::GetStatistics(long* st, long* sr, long* packets, long* rounds, long* bytes) {
  MutexLock lock(mu_);
  const SenderStatistics s = sender_ ? sender_->Statistics() : SenderStatistics{};
  if (st != nullptr) *st = s.fileUnits;
  if (sr != nullptr) *sr = s.repairUnits;
  if (packets != nullptr) *packets = s.packets;
  if (rounds != nullptr) *rounds = s.rounds;
  if (bytes != nullptr) *bytes = s.bytes;
  return sender_ ? kFcastOk : kFcastFail;
}

long SenderObject::SetSigningKey(const std::vector<unsigned char>& seed) {
  if (!seed.empty() && seed.size() != kEd25519SeedSize) return kFcastInvalidArgument;
  MutexLock lock(mu_);
  signingSeed_.assign(seed.begin(), seed.end());
  return kFcastOk;
}

long SenderObject::SetInterface(const std::string& address) {
  MutexLock lock(mu_);
  interface_ = address;
  return kFcastOk;
}

long ReceiverObject::Start() {
  MutexLock lock(receiverMu_);
  if (!receiver_) return kFcastFail;
  receiver_->Start();
  return kFcastOk;
}

long ReceiverObject::Init(const std::string& group, long port, const std::string& folder) {
  if (port <= 0 || port > 65535) return kFcastInvalidArgument;
  MutexLock lock(receiverMu_);
  if (receiver_ && receiver_->Options().group == group && receiver_->Options().port == port &&
      receiver_->Options().folder == folder) {
    return kFcastOk;
  }
  receiver_.reset();
  ReceiverOptions options;
  options.group = group;
  options.port = static_cast<std::uint16_t>(port);
  options.folder = folder;
  options.trustedKey = trustedKey_;
  options.source = source_;
  auto created =
      CarouselReceiver::Create(options, [this](const ReceiverEvent& event) { Post(event); });
  if (!created.ok()) {
    DebugOut("Fcast receiver: " + created.status().message() + "\n");
    return kFcastFail;
  }
  receiver_ = std::move(*created);
  initialised_ = true;
  return kFcastOk;
}

void ReceiverObject::Post(const ReceiverEvent& event) {
  MutexLock lock(mu_);
  events_.push_back(event);
  ready_.NotifyAll();
}

long ReceiverObject::GetEvent(long timeLimitMs, long* code, long* error, long* fileId, long* size,
                              std::string* name, short* unused) {
  if (!initialised_.load()) return kFcastFail;
  ReceiverEvent event;
  {
    MutexLock lock(mu_);
    if (!ready_.WaitFor(mu_, std::chrono::milliseconds(std::max<long>(timeLimitMs, 0)),
                        [this]() REQUIRES(mu_) { return !events_.empty(); })) {
      return kFcastTimeout;
    }
    event = std::move(events_.front());
    events_.pop_front();
  }
  if (code != nullptr) *code = event.code;
  if (error != nullptr) *error = event.error;
  if (fileId != nullptr) *fileId = static_cast<long>(event.fileId);
  if (size != nullptr) *size = static_cast<long>(event.size);
  if (name != nullptr) *name = event.name;
  if (unused != nullptr) *unused = 0;
  return kFcastOk;
}

long ReceiverObject::GetStatistics(long* fileId, std::string* name, long* size, long* symbolsHeld,
                                   long* symbolsNeeded) {
  ReceiverProgress progress;
  {
    MutexLock lock(receiverMu_);
    if (!receiver_) return kFcastFail;
    progress = receiver_->Progress();
  }
  if (fileId != nullptr) *fileId = static_cast<long>(progress.fileId);
  if (name != nullptr) *name = std::move(progress.name);
  if (size != nullptr) *size = static_cast<long>(progress.size);
  if (symbolsHeld != nullptr) *symbolsHeld = static_cast<long>(progress.symbolsHeld);
  if (symbolsNeeded != nullptr) *symbolsNeeded = static_cast<long>(progress.symbolsNeeded);
  return kFcastOk;
}

long ReceiverObject::SetTrustedKey(const std::vector<unsigned char>& publicKey) {
  if (!publicKey.empty() && publicKey.size() != kEd25519PublicKeySize) {
    return kFcastInvalidArgument;
  }
  MutexLock lock(receiverMu_);
  trustedKey_.assign(publicKey.begin(), publicKey.end());
  if (receiver_ && !receiver_->SetTrustedKey(trustedKey_).ok()) return kFcastInvalidArgument;
  return kFcastOk;
}

long ReceiverObject::SetSource(const std::string& address) {
  if (!address.empty() && !Ipv4Endpoint::Parse(address, 0)) return kFcastInvalidArgument;
  MutexLock lock(receiverMu_);
  source_ = address;
  if (receiver_ && !receiver_->SetSource(source_).ok()) return kFcastInvalidArgument;
  return kFcastOk;
}

}  // namespace ondavox::fcast
