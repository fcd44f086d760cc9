#pragma once

#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// The 32-byte table through which ISA-L's vectorised kernels multiply by |c| in GF(2^8), from
// a set made once for all 256 multipliers. Any thread.
const unsigned char* MultiplierTable(std::uint8_t c);

// ec_init_tables, with the tables copied from that set instead of computed one coefficient at
// a time: the receiver's decoders make a new matrix of them for nearly every system they solve,
// and computing them took a good part of the time (|rows| x |k| coefficients in |matrix|, row
// by row).
void InitTables(int k, int rows, const std::uint8_t* matrix, unsigned char* tables);

// dest ^= c * src over |length| bytes.
void MultiplyAdd(std::size_t length, std::uint8_t c, const std::uint8_t* src, std::uint8_t* dest);

}  // namespace ondavox::fcast
