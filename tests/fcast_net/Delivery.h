#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/fcast_net/FcastLab.h"

namespace ondavox::fcast_net {

// A file written for sending, with what its copies must match.
struct SourceFile {
  std::filesystem::path path;
  std::uint64_t size = 0;
  std::string sha256;

  std::string Name() const { return path.filename().string(); }
};

// |size| bytes of PatternBytes(size, seed) written to |folder| / |name|.
SourceFile WriteSource(const std::filesystem::path& folder, const std::string& name, std::uint64_t size,
                       std::uint32_t seed);

// One run of fcast-send on host 0 with several files to fcast-recv on hosts 1 to kReceivers,
// each losing a share of what reaches it, and which files arrived where: reported complete
// with the right size and SHA-256, and held identical in the receiver's folder. Used on the
// test thread.
class Delivery {
 public:
  static constexpr int kReceivers = 3;

  static Delivery Run(FcastLab& fcast, const std::vector<SourceFile>& sources, int loss_per_mille,
                      long rate_kbit, int rounds);

  // At how many receivers |name| arrived.
  int Receivers(const std::string& name) const;
  // How many files arrived at every receiver.
  int CompleteEverywhere() const;
  // "name: receivers" for each file that did not arrive everywhere.
  std::string Incomplete() const;
  // The folder of the receiver on |host|.
  static std::filesystem::path Inbox(const FcastLab& fcast, int host);

 private:
  std::vector<SourceFile> sources_;
  std::map<std::string, int> arrivals_;
};

}  // namespace ondavox::fcast_net
