#include "fcast/engine/TurnIds.h"

#include <algorithm>
#include <cmath>

#include "fcast/code/WideCode.h"

namespace ondavox::fcast {

std::uint32_t ChooseBlockSize(int plannedRounds) {
  const std::uint64_t cosets = static_cast<std::uint64_t>(std::max(plannedRounds, 1)) + 1;
  std::uint32_t k = kWideMaxSourceSymbols;
  while (k > 1 && kWideSymbolIds / k < cosets) k /= 2;
  return k;
}

std::uint32_t RepairCoset(std::uint64_t turn, std::uint32_t kb) {
  const std::uint32_t repairCosets = kWideSymbolIds / WideStride(kb) - 1;
  return 1 + static_cast<std::uint32_t>((turn - 1) % repairCosets);
}

std::uint16_t TurnSymbolId(std::uint64_t turn, std::uint32_t kb, std::uint32_t position) {
  if (turn == 0) return static_cast<std::uint16_t>(position);
  return static_cast<std::uint16_t>(RepairCoset(turn, kb) * WideStride(kb) + position);
}

std::uint32_t RepairSkew(std::uint32_t blocks, std::uint32_t k, double datagramsPerSecond) {
  if (blocks < 2) return 0;
  // The lag s delays the last block by s * blocks * (blocks - 1) / 2 datagrams.
  const double lag = std::ceil(datagramsPerSecond * kDecodeAllowance / blocks);
  const std::uint32_t cap = k / (8 * (blocks - 1));
  return lag >= cap ? cap : static_cast<std::uint32_t>(lag);
}

}  // namespace ondavox::fcast
