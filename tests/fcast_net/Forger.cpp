#include "tests/fcast_net/Forger.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "fcast/engine/FileDigest.h"
#include "fcast/engine/FileLayout.h"
#include "tests/fcast_net/FcastLab.h"

namespace ondavox::fcast_net {

Forger::Forger(lab::NetworkLab& lab, int host)
    : socket_(lab.OpenUdpSocket(host)), group_(*Ipv4Endpoint::Parse(kGroup, kPort)) {
  EXPECT_TRUE(socket_.Valid());
}

void Forger::Send(const std::vector<std::uint8_t>& datagram) {
  ::sendto(socket_.Fd(), datagram.data(), datagram.size(), 0, group_.Get(), Ipv4Endpoint::Size());
  if (++sent_ % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Forger::SendAll(const std::vector<std::vector<std::uint8_t>>& datagrams) {
  for (const auto& datagram : datagrams) Send(datagram);
}

fcast::DescriptorPacket Forger::Descriptor(std::uint32_t file_id, const std::string& name,
                                           const std::string& content) {
  fcast::DescriptorPacket descriptor;
  descriptor.fileId = file_id;
  descriptor.fileSize = content.size();
  descriptor.symbolSize = kSymbolSize;
  descriptor.sourceSymbols = kK;
  descriptor.sha256 = fcast::DigestBytes(
      {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()},
      *fcast::FileLayout::Make(content.size(), kSymbolSize, kK));
  descriptor.name = name;
  return descriptor;
}

std::vector<std::vector<std::uint8_t>> Forger::Transfer(std::uint32_t file_id,
                                                        const std::string& name,
                                                        const std::string& content) {
  std::vector<std::vector<std::uint8_t>> datagrams(1);
  fcast::EncodeDescriptor(Descriptor(file_id, name, content), datagrams.back());
  const auto layout = fcast::FileLayout::Make(content.size(), kSymbolSize, kK);
  EXPECT_TRUE(layout.has_value());
  for (std::uint32_t block = 0; layout && block < layout->BlockCount(); ++block) {
    for (std::uint32_t id = 0; id < layout->SourceSymbols(block); ++id) {
      std::vector<std::uint8_t> symbol(kSymbolSize, 0);
      const auto offset = layout->Offset(block, id);
      std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(offset), layout->Length(block, id),
                  symbol.begin());
      datagrams.emplace_back();
      fcast::EncodeSymbol(file_id, block, static_cast<std::uint16_t>(id), symbol,
                          datagrams.back());
    }
  }
  datagrams.push_back(datagrams.front());
  return datagrams;
}

std::vector<std::vector<std::uint8_t>> Forger::OldVersionTransfer(std::uint32_t file_id,
                                                                  const std::string& name,
                                                                  const std::string& content) {
  // Only the version byte differs: a receiver must refuse the datagrams by their version alone.
  constexpr std::size_t kVersionOffset = 4;
  constexpr std::size_t kCrcOffset = 12;
  std::vector<std::vector<std::uint8_t>> datagrams = Transfer(file_id, name, content);
  for (std::vector<std::uint8_t>& datagram : datagrams) {
    datagram[kVersionOffset] = 4;
    std::fill_n(datagram.begin() + kCrcOffset, 4, 0);
    const std::uint32_t crc = fcast::Crc32c(datagram);
    for (int i = 0; i < 4; ++i) {
      datagram[kCrcOffset + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
  }
  return datagrams;
}

}  // namespace ondavox::fcast_net
