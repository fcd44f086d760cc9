#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/FcastComponent.h"
#include "platform/Mutex.h"
#include "server/net/ServerRunner.h"

namespace ondavox::test {

using server::ServerRunner;

// An Fcast sender object that sends nothing and reports every file as sent at the first look
// at its statistics; it counts the files it was asked to send. Any thread.
class FakeFcastSender final : public FcastSender {
 public:
  long Init(const std::string&, long, long, long) override { return kFcastOk; }
  long SendFile(const std::string&) override {
    ++filesSent;
    return kFcastOk;
  }
  long Stop() override { return kFcastOk; }
  long GetStatistics(long* st, long* sr, long* packets, long* rounds, long* bytes) override {
    if (st != nullptr) *st = 1L << 30;
    if (sr != nullptr) *sr = 0;
    if (packets != nullptr) *packets = 0;
    if (rounds != nullptr) *rounds = 0;
    if (bytes != nullptr) *bytes = 0;
    return kFcastOk;
  }

  long SetSigningKey(const std::vector<unsigned char>& seed) override {
    signingKeySize = static_cast<int>(seed.size());
    return kFcastOk;
  }
  long SetInterface(const std::string& address) override EXCLUDES(mu_) {
    MutexLock lock(mu_);
    interface_ = address;
    return kFcastOk;
  }
  // Of the last SetInterface.
  std::string interfaceAddress() const EXCLUDES(mu_) {
    MutexLock lock(mu_);
    return interface_;
  }

  std::atomic<int> filesSent{0};
  std::atomic<int> signingKeySize{0};  // of the last SetSigningKey

 private:
  mutable Mutex mu_;
  std::string interface_ GUARDED_BY(mu_);
};

// A factory that hands out |sender| at each start.
inline ServerRunner::FcastSenderFactory FactoryOf(std::shared_ptr<FakeFcastSender> sender) {
  return [sender] { return std::static_pointer_cast<FcastSender>(sender); };
}

}  // namespace ondavox::test
