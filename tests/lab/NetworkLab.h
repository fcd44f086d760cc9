#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "tests/lab/HostProcess.h"
#include "tests/lab/NetNamespace.h"
#include "tests/support/TempDir.h"

namespace ondavox::lab {

// A small network of hosts for tests that need several machines: each host is a network
// namespace of its own with the loopback up, one interface "eth0" with the address
// 10.77.0.<host + 1>/24, and the multicast range routed to eth0. The hosts' eth0 are veth pairs
// whose other ends sit on one bridge, in a switch namespace of the lab's own, so the caller's
// namespace stays untouched and any number of labs (in one process or in parallel test
// binaries) never see each other. Inbound packet loss can be set per host (nftables).
//
// Destroying the lab kills what it still runs, and all its namespaces, interfaces and rules go
// with it. Made and used by one test thread.
class NetworkLab {
 public:
  static constexpr const char* kDevice = "eth0";

  // Builds a lab of |hosts| hosts (1 to 200). On failure returns nothing and sets |error|.
  static std::unique_ptr<NetworkLab> Create(int hosts, std::string* error);
  ~NetworkLab();
  NetworkLab(const NetworkLab&) = delete;
  NetworkLab& operator=(const NetworkLab&) = delete;

  int HostCount() const { return static_cast<int>(hosts_.size()); }
  // "10.77.0.<host + 1>".
  static std::string Address(int host);
  // A folder that lives as long as the lab, for files the test's programs read or write.
  const std::filesystem::path& Folder() const { return folder_.path(); }

  // Drops |per_mille| of the packets that reach |host| through eth0, each independently at
  // random; 0 removes the loss. False with |error| set when nftables refuses.
  bool SetLoss(int host, int per_mille, std::string* error);
  // Drops every other UDP datagram to |port| whose payload starts with |prefix| (1 to 16
  // characters) that reaches |host| through eth0: the first, the third, and so on, counted from
  // this call. Replaces what SetLoss set on that host, and the other way round. False with
  // |error| set when nftables refuses.
  bool DropEveryOther(int host, int port, const std::string& prefix, std::string* error);
  // Rewrites the source address of every multicast datagram that |host| sends through eth0 to
  // |address|, as a host forging another's datagrams would. Replaces what SetLoss or
  // DropEveryOther set on that host, and the other way round. False with |error| set when
  // nftables refuses.
  bool SpoofSource(int host, const std::string& address, std::string* error);

  // Starts a program on |host|; see NetNamespace::Start. Its output files are named after the
  // host and a running count, in Folder().
  std::unique_ptr<HostProcess> Start(int host, const std::vector<std::string>& argv, std::string* error);
  // Runs a program on |host| to its end (killed after |timeout|).
  CommandResult Run(int host, const std::vector<std::string>& argv,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

  // A UDP socket that belongs to |host|'s network; invalid when it cannot be made.
  Socket OpenUdpSocket(int host) const;

  // The namespace behind |host|, for what the calls above do not cover.
  NetNamespace& Host(int host) { return *hosts_.at(static_cast<size_t>(host)); }

 private:
  NetworkLab() = default;
  bool Build(int hosts, std::string* error);
  // Runs one setup command; false with |error| naming it when it fails.
  bool Setup(NetNamespace& where, const std::vector<std::string>& argv, std::string* error);
  std::filesystem::path NextOutputPrefix(const std::string& who);
  enum class Direction { kInbound, kOutbound };
  // Makes |rule| (nftables, without the interface match) the one rule of |host|, on what
  // reaches it or what leaves it through eth0; none when empty.
  bool SetRule(int host, Direction direction, const std::string& rule, std::string* error);

  test::TempDir folder_;
  int outputs_ = 0;
  std::unique_ptr<NetNamespace> switch_;
  std::vector<std::unique_ptr<NetNamespace>> hosts_;
};

}  // namespace ondavox::lab
