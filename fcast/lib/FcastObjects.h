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

 private:
  Mutex mu_;
  std::unique_ptr<CarouselSender> sender_ GUARDED_BY(mu_);
};

// The component's receiver object over a CarouselReceiver, with the queue of events that
// GetEvent waits on (filled on the receiver's thread). Called as FcastReceiverObject says.
class ReceiverObject final : public FcastReceiverObject {
 public:
  long Start() override;
  long Init(const std::string& group, long port, const std::string& folder) override;
  long GetEvent(long timeLimitMs, long* code, long* error, long* fileId, long* size,
                std::string* name, short* unused) override;

 private:
  void Post(const ReceiverEvent& event) EXCLUDES(mu_);

  Mutex mu_;
  CondVar ready_;
  std::deque<ReceiverEvent> events_ GUARDED_BY(mu_);
  std::atomic<bool> initialised_{false};  // GetEvent's thread reads only this
  // Declared after the queue, so it stops posting before the queue goes.
  std::unique_ptr<CarouselReceiver> receiver_;
};

}  // namespace ondavox::fcast
