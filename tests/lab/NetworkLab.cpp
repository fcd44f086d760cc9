#include "tests/lab/NetworkLab.h"

#include <fstream>

namespace ondavox::lab {
namespace {

constexpr const char* kBridge = "br0";
constexpr const char* kNftTable = "ondavox_lab";

std::string SwitchPort(int host) { return "vh" + std::to_string(host); }

}  // namespace

std::unique_ptr<NetworkLab> NetworkLab::Create(int hosts, std::string* error) {
  if (hosts < 1 || hosts > 200) {
    *error = "a lab has 1 to 200 hosts";
    return nullptr;
  }
  std::unique_ptr<NetworkLab> lab(new NetworkLab());
  if (!lab->Build(hosts, error)) return nullptr;
  return lab;
}

NetworkLab::~NetworkLab() = default;

std::string NetworkLab::Address(int host) { return "10.77.0." + std::to_string(host + 1); }

std::filesystem::path NetworkLab::NextOutputPrefix(const std::string& who) {
  return Folder() / (who + "-" + std::to_string(++outputs_));
}

bool NetworkLab::Setup(NetNamespace& where, const std::vector<std::string>& argv, std::string* error) {
  const CommandResult result = where.Run(argv, NextOutputPrefix("setup"));
  if (result.exit_code == 0) return true;
  std::string command;
  for (const std::string& arg : argv) command += (command.empty() ? "" : " ") + arg;
  *error = command + " failed (" + std::to_string(result.exit_code) + "): " + result.output;
  return false;
}

bool NetworkLab::Build(int hosts, std::string* error) {
  switch_ = NetNamespace::Create(error);
  if (!switch_) return false;
  // No snooping: every port gets every group, as on a plain hub, whoever joined when.
  if (!Setup(*switch_, {"ip", "link", "add", kBridge, "type", "bridge", "mcast_snooping", "0"}, error) ||
      !Setup(*switch_, {"ip", "link", "set", kBridge, "up"}, error)) {
    return false;
  }
  for (int host = 0; host < hosts; ++host) {
    auto space = NetNamespace::Create(error);
    if (!space) return false;
    const std::string port = SwitchPort(host);
    const std::string address = Address(host) + "/24";
    if (!Setup(*switch_,
               {"ip", "link", "add", port, "type", "veth", "peer", "name", kDevice, "netns",
                std::to_string(space->HolderPid())},
               error) ||
        !Setup(*switch_, {"ip", "link", "set", port, "master", kBridge, "up"}, error) ||
        !Setup(*space, {"ip", "link", "set", "lo", "up"}, error) ||
        !Setup(*space, {"ip", "address", "add", address, "dev", kDevice}, error) ||
        !Setup(*space, {"ip", "link", "set", kDevice, "up", "multicast", "on"}, error) ||
        !Setup(*space, {"ip", "route", "add", "224.0.0.0/4", "dev", kDevice}, error)) {
      return false;
    }
    hosts_.push_back(std::move(space));
  }
  return true;
}

bool NetworkLab::SetLoss(int host, int per_mille, std::string* error) {
  if (per_mille < 0 || per_mille > 1000) {
    *error = "loss is 0 to 1000 per mille";
    return false;
  }
  return SetRule(
      host, Direction::kInbound, per_mille > 0 ? "numgen random mod 1000 < " + std::to_string(per_mille) + " drop" : "",
      error);
}

bool NetworkLab::DropEveryOther(int host, int port, const std::string& prefix, std::string* error) {
  if (prefix.empty() || prefix.size() > 16) {
    *error = "the payload prefix has 1 to 16 characters";
    return false;
  }
  // The payload starts 64 bits into the transport header (after the UDP header); the counter
  // only advances for the datagrams that match what stands before it.
  std::string hex;
  for (unsigned char c : prefix) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return SetRule(host, Direction::kInbound,
                        "udp dport " + std::to_string(port) + " @th,64," +
                            std::to_string(prefix.size() * 8) + " 0x" + hex +
                            " numgen inc mod 2 == 0 drop",
                        error);
}

bool NetworkLab::SpoofSource(int host, const std::string& address, std::string* error) {
  return SetRule(host, Direction::kOutbound, "ip daddr 224.0.0.0/4 ip saddr set " + address, error);
}

bool NetworkLab::SetRule(int host, Direction direction, const std::string& rule,
                         std::string* error) {
  const bool inbound = direction == Direction::kInbound;
  const std::filesystem::path rules = NextOutputPrefix("rule").string() + ".nft";
  {
    std::ofstream out(rules);
    out << "flush ruleset\n";
    if (!rule.empty()) {
      out << "table inet " << kNftTable << " {\n"
          << "  chain " << (inbound ? "inbound" : "outbound") << " {\n"
          << "    type filter hook " << (inbound ? "input" : "postrouting")
          << " priority 0; policy accept;\n"
          << "    " << (inbound ? "iifname" : "oifname") << " \"" << kDevice << "\" " << rule
          << "\n"
          << "  }\n"
          << "}\n";
    }
  }
  return Setup(Host(host), {"nft", "-f", rules.string()}, error);
}

std::unique_ptr<HostProcess> NetworkLab::Start(int host, const std::vector<std::string>& argv,
                                               std::string* error) {
  return Host(host).Start(argv, NextOutputPrefix("host" + std::to_string(host)), error);
}

CommandResult NetworkLab::Run(int host, const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  return Host(host).Run(argv, NextOutputPrefix("host" + std::to_string(host)), timeout);
}

Socket NetworkLab::OpenUdpSocket(int host) const {
  Socket socket;
  hosts_.at(static_cast<size_t>(host))->RunInside([&socket] { socket = Socket::Udp(); });
  return socket;
}

}  // namespace ondavox::lab
