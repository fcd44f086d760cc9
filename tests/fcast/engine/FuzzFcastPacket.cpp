// Feeds arbitrary datagrams to the packet parser. Whatever it accepts must encode back to the
// same bytes and describe a layout the receiver can check; nothing it reads may lie outside
// the datagram.
//
// Random bytes almost never carry the magic, the version, a right CRC and a name length that
// fits, so each input is also used as the seed of a near-valid datagram: a symbol, a group
// symbol or a descriptor with fields mostly in range (signed or not), a few bytes then changed at
// random and the CRC mostly made right again. That takes the parser past its framing to every
// field check.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fcast/engine/FileLayout.h"
#include "fcast/engine/FileName.h"
#include "fcast/engine/Packet.h"

namespace {

using namespace ondavox::fcast;

void Check(const std::vector<std::uint8_t>& datagram) {
  const ParsedPacket parsed = ParsePacket(datagram);
  if (parsed.error != ParseError::kNone) return;
  std::vector<std::uint8_t> again;
  if (const auto* symbol = std::get_if<SymbolPacket>(&parsed.packet)) {
    EncodeSymbol(symbol->fileId, symbol->block, symbol->symbolId, symbol->data, again);
  } else if (const auto* descriptor = std::get_if<DescriptorPacket>(&parsed.packet)) {
    if (descriptor->fileSize > kMaxFileSize || descriptor->name.empty() ||
        descriptor->symbolSize % 2 != 0 || descriptor->sourceSymbols > kWideMaxSourceSymbols) {
      std::abort();
    }
    // A signature is the datagram's last bytes, and covers all the others.
    if (descriptor->signature &&
        SignedMessage(datagram).size() + kEd25519SignatureSize != datagram.size()) {
      std::abort();
    }
    EncodeDescriptor(*descriptor, again);
    if (const auto layout = FileLayout::Make(descriptor->fileSize, descriptor->symbolSize,
                                             descriptor->sourceSymbols)) {
      if (layout->BlockCount() > 0 && layout->Offset(layout->BlockCount() - 1, 0) +
                                              layout->BlockBytes(layout->BlockCount() - 1) !=
                                          descriptor->fileSize) {
        std::abort();
      }
    }
    const std::string name = SanitizeFileName(descriptor->name, descriptor->fileId);
    if (name.empty() || name.find('/') != std::string::npos || name.front() == '.') std::abort();
  } else {
    std::abort();
  }
  if (again != datagram) std::abort();
}

std::vector<std::uint8_t> NearValid(const std::uint8_t* data, std::size_t size) {
  std::seed_seq seed(data, data + size);
  std::mt19937 rng(seed);
  const auto below = [&rng](std::uint32_t bound) {
    return static_cast<std::uint32_t>(rng() % bound);
  };
  std::vector<std::uint8_t> datagram;
  if (below(2) == 0) {
    std::vector<std::uint8_t> bytes(kMinSymbolSize + below(kMaxSymbolSize - kMinSymbolSize + 1));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    EncodeSymbol(rng(), rng(), static_cast<std::uint16_t>(rng()), bytes, datagram);
  } else {
    DescriptorPacket d;
    d.fileId = rng();
    d.fileSize = (std::uint64_t{rng()} << 32 | rng()) >> below(64);
    d.symbolSize = static_cast<std::uint16_t>(kMinSymbolSize + below(kMaxSymbolSize));
    d.sourceSymbols = static_cast<std::uint16_t>(below(kWideMaxSourceSymbols + 2));
    if (below(2) == 0) {
      d.sha256.emplace();
      for (auto& b : *d.sha256) b = static_cast<std::uint8_t>(rng());
    }
    d.name.resize(below(kMaxNameBytes + 2));
    for (char& c : d.name) c = static_cast<char>(rng());
    if (below(2) == 0) {
      static const Ed25519Key key =
          std::move(*Ed25519Key::FromSeed(std::vector<std::uint8_t>(kEd25519SeedSize, 7)));
      EncodeSignedDescriptor(d, key, datagram);
    } else {
      EncodeDescriptor(d, datagram);
    }
  }
  for (std::uint32_t edits = below(4); edits > 0; --edits) {
    datagram[below(static_cast<std::uint32_t>(datagram.size()))] = static_cast<std::uint8_t>(rng());
  }
  if (below(8) != 0) {  // the CRC made right again
    for (int i = 12; i < 16; ++i) datagram[i] = 0;
    const std::uint32_t crc = Crc32c(datagram);
    for (int i = 0; i < 4; ++i) datagram[12 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  return datagram;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check({data, data + size});
  Check(NearValid(data, size));
  return 0;
}
