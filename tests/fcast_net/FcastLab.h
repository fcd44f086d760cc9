#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/lab/NetworkLab.h"

namespace ondavox::fcast_net {

inline constexpr const char* kGroup = "230.0.0.2";
inline constexpr std::uint16_t kPort = 1711;

// One "COMPLETE <name> <size> <digest>" line of fcast-recv.
struct Completion {
  std::string name;
  std::uint64_t size = 0;
  std::string digest;  // the transfer's digest, hexadecimal
  bool operator==(const Completion&) const = default;
};
void PrintTo(const Completion& completion, std::ostream* out);

// The Fcast tools on a network lab: starts fcast-recv and fcast-send (the binaries of this
// build) on its hosts with the group and port above. Made and used by one test thread.
class FcastLab {
 public:
  // A lab of |hosts| hosts; a failed test assertion and nothing when it cannot be built.
  static std::unique_ptr<FcastLab> Create(int hosts);

  lab::NetworkLab& Lab() { return *lab_; }
  const std::filesystem::path& Folder() const { return lab_->Folder(); }

  // Starts fcast-recv on |host| into |folder| and returns once the host has joined the group.
  // |files| 0 receives until the timeout.
  std::unique_ptr<lab::HostProcess> StartReceiver(int host, const std::filesystem::path& folder, int files,
                                                  int timeout_seconds = 120);
  // Starts fcast-send on |host| with |files|.
  std::unique_ptr<lab::HostProcess> StartSender(int host, long rate_kbit, int rounds,
                                                const std::vector<std::filesystem::path>& files);

 private:
  explicit FcastLab(std::unique_ptr<lab::NetworkLab> lab) : lab_(std::move(lab)) {}
  bool WaitForMembership(int host);

  std::unique_ptr<lab::NetworkLab> lab_;
};

// The completions that |output| of fcast-recv reports, in order.
std::vector<Completion> Completions(const std::string& output);

// SHA-256 in lower-case hex of bytes, or of a whole file read in pieces (empty when the file
// cannot be read).
std::string Sha256Hex(const std::string& bytes);
std::string Sha256HexOfFile(const std::filesystem::path& path);

// |size| bytes that differ from file to file (|seed|) and from place to place.
std::string PatternBytes(std::uint64_t size, std::uint32_t seed);

// Names of what |folder| holds, sorted.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

}  // namespace ondavox::fcast_net
