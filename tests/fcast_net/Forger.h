#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fcast/engine/Packet.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Socket.h"
#include "tests/lab/NetworkLab.h"

namespace ondavox::fcast_net {

// A host that makes up Fcast datagrams and sends them to the Fcast group (kGroup, kPort) of a
// lab, paced so that a receiver's buffer never overflows (every datagram that should count
// arrives). Its transfers use symbols of kSymbolSize bytes in blocks of kK source symbols. Made
// and used by one test thread.
class Forger {
 public:
  static constexpr std::uint16_t kSymbolSize = 1400;
  static constexpr std::uint16_t kK = 4;

  // Sends from |host| of |lab|.
  Forger(lab::NetworkLab& lab, int host);

  void Send(const std::vector<std::uint8_t>& datagram);
  void SendAll(const std::vector<std::vector<std::uint8_t>>& datagrams);

  // An unsigned descriptor of |content| with its digest.
  static fcast::DescriptorPacket Descriptor(std::uint32_t file_id, const std::string& name,
                                            const std::string& content);
  // The datagrams of a whole, valid, unsigned transfer of |content|: its descriptor, then every
  // source symbol (zero-padded as the sender pads them), then the descriptor again.
  static std::vector<std::vector<std::uint8_t>> Transfer(std::uint32_t file_id,
                                                         const std::string& name,
                                                         const std::string& content);
  // The same transfer as a sender of the previous wire version (4) sent it: the same
  // datagrams, with that version and their checksums made anew.
  static std::vector<std::vector<std::uint8_t>> OldVersionTransfer(std::uint32_t file_id,
                                                                   const std::string& name,
                                                                   const std::string& content);

 private:
  Socket socket_;
  Ipv4Endpoint group_;
  int sent_ = 0;
};

}  // namespace ondavox::fcast_net
