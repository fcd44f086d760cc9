#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "common/FcastComponent.h"
#include "fcast/engine/CarouselReceiver.h"
#include "fcast/engine/CarouselSender.h"
#include "platform/Mutex.h"

namespace ondavox::fcast {

// The component's sender object over a CarouselSender: the interface's argument checks and
// result values. Any thread: calls are serialised (the server stops a transfer from its
// window thread while its sender thread polls the statistics).
class SenderObject final : public FcastSender {
 public:
  long Init(const std::string& group, long port, long plannedRounds, long rate) override
      EXCLUDES(mu_);
  long SendFile(const std::string& path) override EXCLUDES(mu_);
  long Stop() override EXCLUDES(mu_);
  long GetStatistics(long* st, long* sr, long* packets, long* rounds, long* bytes) override
      EXCLUDES(mu_);
  long SetSigningKey(const std::vector<unsigned char>& seed) override EXCLUDES(mu_);
  long SetInterface(const std::string& address) override EXCLUDES(mu_);

 private:
  Mutex mu_;
  std::unique_ptr<CarouselSender> sender_ GUARDED_BY(mu_);
  std::vector<std::uint8_t> signingSeed_ GUARDED_BY(mu_);
  std::string interface_ GUARDED_BY(mu_);
};

// The component's receiver object over a CarouselReceiver, with the queue of events that
// GetEvent waits on (filled on the receiver's thread). Called as FcastReceiverObject says;
// GetStatistics from any thread, so the receiver is replaced under a lock of its own.
class ReceiverObject final : public FcastReceiverObject {
 public:
  long Start() override EXCLUDES(receiverMu_);
  long Init(const std::string& group, long port, const std::string& folder) override
      EXCLUDES(receiverMu_);
  long GetEvent(long timeLimitMs, long* code, long* error, long* fileId, long* size,
                std::string* name, short* unused) override;
  long GetStatistics(long* fileId, std::string* name, long* size, long* symbolsHeld,
                     long* symbolsNeeded) override EXCLUDES(receiverMu_);
  long SetTrustedKey(const std::vector<unsigned char>& publicKey) override EXCLUDES(receiverMu_);
  long SetSource(const std::string& address) override EXCLUDES(receiverMu_);

 private:
  void Post(const ReceiverEvent& event) EXCLUDES(mu_);

  Mutex mu_;
  CondVar ready_;
  std::deque<ReceiverEvent> events_ GUARDED_BY(mu_);
  std::atomic<bool> initialised_{false};  // GetEvent's thread reads only this
  // Declared after the queue, so it stops posting before the queue goes. Never held while
  // waiting on mu_: the receiver's thread posts under mu_ until the receiver goes.
  Mutex receiverMu_;
  std::unique_ptr<CarouselReceiver> receiver_ GUARDED_BY(receiverMu_);
  // Given to every receiver made by Init.
  std::vector<std::uint8_t> trustedKey_ GUARDED_BY(receiverMu_);
  std::string source_ GUARDED_BY(receiverMu_);
};

}  // namespace ondavox::fcast
