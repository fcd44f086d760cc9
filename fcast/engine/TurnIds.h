#pragma once

#include <cstdint>

namespace ondavox::fcast {

// Which symbol ids the sender sends in each turn (fcast/README.md, "How the sender schedules a
// round"). Turn 0 sends the source: id j for position j. Turn t >= 1 sends, for a block of kb
// source symbols and stride S = WideStride(kb), the coset c = 1 + (t - 1) mod (65536 / S - 1):
// ids c S + j for positions j < kb, so that consecutive turns send fresh ids until the cosets
// run out and then send them again in the same order. Pure functions; any thread.

// The block size k for a file sent with |plannedRounds| planned rounds: the largest power of two
// up to kWideMaxSourceSymbols whose cosets number at least plannedRounds + 1: the source coset
// and a repair coset of its own for each planned round (1 when no power of two gives that many).
std::uint32_t ChooseBlockSize(int plannedRounds);

// The repair coset that turn |turn| (>= 1) sends of a block of |kb| source symbols.
std::uint32_t RepairCoset(std::uint64_t turn, std::uint32_t kb);

// The id that turn |turn| sends at position |position| (< kb) of a block of |kb| source symbols.
std::uint16_t TurnSymbolId(std::uint64_t turn, std::uint32_t kb, std::uint32_t position);

// How many positions each block lags the block before it in a repair turn of a file of
// |blocks| blocks of up to k source symbols, sent at |datagramsPerSecond|. A receiver then
// completes its blocks about kDecodeAllowance apart and rebuilds each while the next still
// comes, instead of all of them after its last datagram; the last block completes later by
// half an allowance per block before it, capped at 1/16 of the turn. 0 for a single block.
inline constexpr double kDecodeAllowance = 0.05;  // seconds: a block of 16384 on one core
std::uint32_t RepairSkew(std::uint32_t blocks, std::uint32_t k, double datagramsPerSecond);

}  // namespace ondavox::fcast
