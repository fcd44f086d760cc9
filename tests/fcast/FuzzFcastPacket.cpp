// Feeds arbitrary datagrams to the packet parser. Whatever it accepts must encode back to the
// same bytes and describe a layout the receiver can check; nothing it reads may lie outside
// the datagram.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fcast/FileLayout.h"
#include "fcast/FileName.h"
#include "fcast/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ondavox::fcast;
  const std::span<const std::uint8_t> input(data, size);
  const ParsedPacket parsed = ParsePacket(input);
  if (parsed.error != ParseError::kNone) return 0;
  std::vector<std::uint8_t> again;
  if (const auto* symbol = std::get_if<SymbolPacket>(&parsed.packet)) {
    if (symbol->symbolId >= kMaxSymbolsPerBlock) std::abort();
    EncodeSymbol(symbol->fileId, symbol->block, symbol->symbolId, symbol->data, again);
  } else if (const auto* descriptor = std::get_if<DescriptorPacket>(&parsed.packet)) {
    if (descriptor->fileSize > kMaxFileSize || descriptor->name.empty()) std::abort();
    EncodeDescriptor(*descriptor, again);
    if (const auto layout = FileLayout::Make(descriptor->fileSize, descriptor->symbolSize,
                                             descriptor->sourceSymbols, descriptor->symbolIds)) {
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
  if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
  return 0;
}
