#include "fcast/code/GaloisTables.h"

#include <isa-l/erasure_code.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace ondavox::fcast {

const unsigned char* MultiplierTable(std::uint8_t c) {
  static const std::vector<unsigned char> tables = [] {
    std::vector<unsigned char> all(256 * 32);
    for (int m = 0; m < 256; ++m) gf_vect_mul_init(static_cast<unsigned char>(m), &all[m * 32]);
    return all;
  }();
  return &tables[std::size_t{c} * 32];
}

void InitTables(int k, int rows, const std::uint8_t* matrix, unsigned char* tables) {
  const std::size_t count = static_cast<std::size_t>(k) * static_cast<std::size_t>(rows);
  for (std::size_t i = 0; i < count; ++i)
    std::memcpy(tables + 32 * i, MultiplierTable(matrix[i]), 32);
}

void MultiplyAdd(std::size_t length, std::uint8_t c, const std::uint8_t* src, std::uint8_t* dest) {
  if (c == 0) return;
  auto* table = const_cast<unsigned char*>(MultiplierTable(c));
  // The vectorised kernel needs 64 bytes or more.
  auto* in = const_cast<unsigned char*>(src);
  if (length >= 64) {
    gf_vect_mad(static_cast<int>(length), 1, 0, table, in, dest);
  } else {
    gf_vect_mad_base(static_cast<int>(length), 1, 0, table, in, dest);
  }
}

}  // namespace ondavox::fcast
