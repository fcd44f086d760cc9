#include "tests/fcast_net/Delivery.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace ondavox::fcast_net {

using namespace std::chrono_literals;

SourceFile WriteSource(const std::filesystem::path& folder, const std::string& name, std::uint64_t size,
                       std::uint32_t seed) {
  const std::string bytes = PatternBytes(size, seed);
  std::filesystem::create_directories(folder);
  test::WriteFile(folder / name, bytes);
  return {folder / name, size, Sha256Hex(bytes)};
}

std::filesystem::path Delivery::Inbox(const FcastLab& fcast, int host) {
  return fcast.Folder() / ("in" + std::to_string(host));
}

Delivery Delivery::Run(FcastLab& fcast, const std::vector<SourceFile>& sources, int loss_per_mille,
                       long rate_kbit, int rounds) {
  Delivery delivery;
  delivery.sources_ = sources;
  std::string error;
  std::vector<std::unique_ptr<lab::HostProcess>> receivers;
  for (int host = 1; host <= kReceivers; ++host) {
    EXPECT_TRUE(fcast.Lab().SetLoss(host, loss_per_mille, &error)) << error;
    receivers.push_back(fcast.StartReceiver(host, Inbox(fcast, host), static_cast<int>(sources.size())));
    if (!receivers.back()) return delivery;
  }
  std::vector<std::filesystem::path> paths;
  for (const SourceFile& source : sources) paths.push_back(source.path);
  auto sender = fcast.StartSender(0, rate_kbit, rounds, paths);
  if (!sender) return delivery;
  EXPECT_EQ(sender->Wait(300s), 0) << sender->Errors();
  for (int host = 1; host <= kReceivers; ++host) {
    lab::HostProcess& receiver = *receivers[static_cast<size_t>(host - 1)];
    // Every round has been sent: what has not completed in a moment never will.
    const auto ended = receiver.Wait(5s);
    EXPECT_TRUE(!ended || *ended < 128) << "receiver at host " << host << " died: " << receiver.Errors();
    std::map<std::string, int> verified;
    for (const Completion& completion : Completions(receiver.Output())) {
      for (const SourceFile& source : sources) {
        if (completion.name == source.Name() && completion.size == source.size &&
            Sha256HexOfFile(Inbox(fcast, host) / completion.name) == source.sha256) {
          ++verified[completion.name];
        }
      }
    }
    for (const auto& [name, count] : verified) {
      EXPECT_EQ(count, 1) << name << " reported more than once at host " << host;
      ++delivery.arrivals_[name];
    }
  }
  return delivery;
}

int Delivery::Receivers(const std::string& name) const {
  const auto it = arrivals_.find(name);
  return it == arrivals_.end() ? 0 : it->second;
}

int Delivery::CompleteEverywhere() const {
  int complete = 0;
  for (const SourceFile& source : sources_) complete += Receivers(source.Name()) == kReceivers ? 1 : 0;
  return complete;
}

std::string Delivery::Incomplete() const {
  std::string text;
  for (const SourceFile& source : sources_) {
    const int receivers = Receivers(source.Name());
    if (receivers != kReceivers) text += " " + source.Name() + ": " + std::to_string(receivers);
  }
  return text;
}

}  // namespace ondavox::fcast_net
