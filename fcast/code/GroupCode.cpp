#include "fcast/code/GroupCode.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "fcast/code/CodeLimits.h"
#include "fcast/code/GaloisTables.h"

namespace ondavox::fcast {
namespace {

std::size_t RoundUp(std::size_t value, std::size_t unit) {
  return (value + unit - 1) / unit * unit;
}

void Xor(std::size_t length, const std::uint8_t* src, std::uint8_t* dest) {
  for (std::size_t i = 0; i < length; ++i) dest[i] ^= src[i];
}

}  // namespace

std::uint8_t GroupCoefficient(int combination, int index) {
  return gf_inv(static_cast<unsigned char>((kMaxGroupBlocks + combination) ^ index));
}

void GroupCoder::Mix(int k, std::size_t symbolSize,
                     std::span<const std::uint8_t* const* const> blocks, int combination) {
  const std::size_t bytes = static_cast<std::size_t>(k) * symbolSize;
  virtual_.resize(bytes);
  virtualPlaces_.resize(static_cast<std::size_t>(k));
  for (int j = 0; j < k; ++j) virtualPlaces_[j] = &virtual_[j * symbolSize];
  const int count = static_cast<int>(blocks.size());
  std::array<std::uint8_t, kMaxGroupBlocks> weights{};
  for (int i = 0; i < count; ++i) weights[i] = GroupCoefficient(combination, i);
  std::array<unsigned char, 32 * kMaxGroupBlocks> tables;
  InitTables(count, 1, weights.data(), tables.data());
  // One dot product over the group's blocks, over whole blocks when their places follow each
  // other in memory (as a sender's window and a receiver's scratch hold them).
  std::array<unsigned char*, kMaxGroupBlocks> in{};
  bool contiguous = true;
  for (int i = 0; i < count; ++i) {
    in[i] = const_cast<unsigned char*>(blocks[i][0]);
    for (int j = 1; j < k && contiguous; ++j)
      contiguous = blocks[i][j] == blocks[i][0] + j * symbolSize;
  }
  unsigned char* out = virtual_.data();
  if (contiguous) {
    ec_encode_data(static_cast<int>(bytes), count, 1, tables.data(), in.data(), &out);
    return;
  }
  for (int j = 0; j < k; ++j) {
    for (int i = 0; i < count; ++i) in[i] = const_cast<unsigned char*>(blocks[i][j]);
    out = virtualPlaces_[j];
    ec_encode_data(static_cast<int>(symbolSize), count, 1, tables.data(), in.data(), &out);
  }
}

void GroupCoder::Encode(int k, std::size_t symbolSize,
                        std::span<const std::uint8_t* const* const> blocks,
                        std::span<const GroupSymbol> symbols, std::uint8_t* const* out) {
  std::vector<std::uint8_t> ids;
  std::vector<std::uint8_t*> outs;
  std::vector<bool> done(symbols.size(), false);
  for (std::size_t first = 0; first < symbols.size(); ++first) {
    if (done[first]) continue;
    const int combination = symbols[first].combination;
    ids.clear();
    outs.clear();
    for (std::size_t s = first; s < symbols.size(); ++s) {
      if (done[s] || symbols[s].combination != combination) continue;
      done[s] = true;
      ids.push_back(symbols[s].id);
      outs.push_back(out[s]);
    }
    Mix(k, symbolSize, blocks, combination);
    code_->Encode(k, symbolSize, virtualPlaces_.data(), ids, outs.data());
  }
}

GroupCoder::System GroupCoder::Shape(int k, std::size_t symbolSize, std::span<const Block> blocks,
                                     std::size_t groupSymbols) {
  System system;
  system.k = k;
  system.symbolSize = symbolSize;
  system.firstColumn.assign(blocks.size() + 1, 0);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    system.firstColumn[i + 1] = system.firstColumn[i] + blocks[i].missing.size();
    system.ownRows += blocks[i].repairIds.size();
  }
  system.columns = system.firstColumn.back();
  system.rows = system.ownRows + groupSymbols;
  // The weights are padded so that the vectorised kernel can work on whole rows from any
  // multiple of 32 on.
  system.width = std::max<std::size_t>(64, RoundUp(system.columns + system.rows, 32));
  return system;
}

bool GroupCoder::Solve(int k, std::size_t symbolSize, std::span<const Block> blocks,
                       std::span<const GroupSymbol> symbols, std::vector<std::size_t>* useless) {
  useless->clear();
  const System system = Shape(k, symbolSize, blocks, symbols.size());
  if (system.columns == 0) return true;
  if (system.rows < system.columns) return false;
  BuildEquations(system, blocks, symbols);
  if (!Eliminate(system, useless)) return false;
  Apply(system, blocks);
  return true;
}

void GroupCoder::BuildEquations(const System& system, std::span<const Block> blocks,
                                std::span<const GroupSymbol> symbols) {
  // Each equation: the unknowns' weights, followed by the identity that records which
  // equations a row has become a sum of; and apart, what its received symbol leaves once the
  // known source symbols are taken out.
  rows_.assign(system.rows * system.width, 0);
  residuals_.resize(system.rows * system.symbolSize);
  coefficients_.resize(static_cast<std::size_t>(system.k));
  for (const Block& block : blocks) {
    for (std::uint8_t m : block.missing) std::memset(block.source[m], 0, system.symbolSize);
  }
  BuildOwnRows(system, blocks);
  BuildGroupRows(system, blocks, symbols);
  for (std::size_t q = 0; q < system.rows; ++q) Row(system, q)[system.columns + q] = 1;
}

void GroupCoder::BuildOwnRows(const System& system, std::span<const Block> blocks) {
  std::vector<std::uint8_t*> outs;
  std::size_t r = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const Block& block = blocks[i];
    if (block.repairIds.empty()) continue;
    outs.clear();
    for (std::size_t t = 0; t < block.repairIds.size(); ++t) {
      outs.push_back(Residual(system, r + t));
    }
    code_->Encode(system.k, system.symbolSize, block.source, block.repairIds, outs.data());
    for (std::size_t t = 0; t < block.repairIds.size(); ++t, ++r) {
      Xor(system.symbolSize, block.repair[t], Residual(system, r));
      code_->Coefficients(system.k, block.repairIds[t], coefficients_.data());
      for (std::size_t m = 0; m < block.missing.size(); ++m) {
        Row(system, r)[system.firstColumn[i] + m] = coefficients_[block.missing[m]];
      }
    }
  }
}

void GroupCoder::BuildGroupRows(const System& system, std::span<const Block> blocks,
                                std::span<const GroupSymbol> symbols) {
  std::vector<const std::uint8_t* const*> sources;
  for (const Block& block : blocks) sources.push_back(block.source);
  std::vector<std::uint8_t*> outs;
  for (std::size_t s = 0; s < symbols.size(); ++s)
    outs.push_back(Residual(system, system.ownRows + s));
  Encode(system.k, system.symbolSize, sources, symbols, outs.data());
  for (std::size_t s = 0; s < symbols.size(); ++s) {
    std::uint8_t* target = Row(system, system.ownRows + s);
    Xor(system.symbolSize, symbols[s].data, outs[s]);
    code_->Coefficients(system.k, symbols[s].id, coefficients_.data());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const std::uint8_t weight = GroupCoefficient(symbols[s].combination, static_cast<int>(i));
      for (std::size_t m = 0; m < blocks[i].missing.size(); ++m) {
        target[system.firstColumn[i] + m] = gf_mul(weight, coefficients_[blocks[i].missing[m]]);
      }
    }
  }
}

bool GroupCoder::Eliminate(const System& system, std::vector<std::size_t>* useless) {
  // Gauss-Jordan elimination on the weights. A pivot row has no weight left in the columns
  // before its own, so the row operations start at the multiple of 32 below the column. Rows
  // are searched in order, so a block's own repair rows (independent of each other, the code
  // being MDS) become pivots before any group row: the rows left over are group rows.
  pivotOf_.assign(system.columns, system.rows);
  std::vector<bool> pivot(system.rows, false);
  bool complete = true;
  for (std::size_t c = 0; c < system.columns; ++c) {
    std::size_t p = 0;
    while (p < system.rows && (pivot[p] || Row(system, p)[c] == 0)) ++p;
    if (p == system.rows) {
      complete = false;
      continue;
    }
    pivot[p] = true;
    pivotOf_[c] = p;
    const std::uint8_t inverse = gf_inv(Row(system, p)[c]);
    const std::size_t offset = c / 32 * 32;
    for (std::size_t q = 0; q < system.rows; ++q) {
      std::uint8_t* row = Row(system, q);
      if (q != p && row[c] != 0) {
        MultiplyAdd(system.width - offset, gf_mul(row[c], inverse), Row(system, p) + offset,
                    row + offset);
      }
    }
  }
  if (complete) return true;
  for (std::size_t q = system.ownRows; q < system.rows; ++q) {
    if (!pivot[q]) useless->push_back(q - system.ownRows);
  }
  return false;
}

void GroupCoder::Apply(const System& system, std::span<const Block> blocks) {
  // Each missing symbol is its pivot row's sum of residuals, over its pivot weight: a matrix
  // product with ISA-L's dot-product kernels, from tables copied out of the multipliers', a
  // slice of the missing symbols at a time so that the tables stay small.
  constexpr std::size_t kSlice = 64;
  const std::size_t rows = system.rows;
  tables_.resize(32 * std::min(system.columns, kSlice) * rows);
  std::vector<unsigned char*> in(rows);
  for (std::size_t q = 0; q < rows; ++q) in[q] = Residual(system, q);
  std::vector<unsigned char*> out;
  for (const Block& block : blocks) {
    for (std::uint8_t m : block.missing) out.push_back(block.source[m]);
  }
  for (std::size_t first = 0; first < system.columns; first += kSlice) {
    const std::size_t slice = std::min(kSlice, system.columns - first);
    for (std::size_t c = first; c < first + slice; ++c) {
      const std::uint8_t* weights = Row(system, pivotOf_[c]);
      const std::uint8_t inverse = gf_inv(weights[c]);
      for (std::size_t q = 0; q < rows; ++q) {
        std::memcpy(&tables_[32 * ((c - first) * rows + q)],
                    MultiplierTable(gf_mul(inverse, weights[system.columns + q])), 32);
      }
    }
    ec_encode_data(static_cast<int>(system.symbolSize), static_cast<int>(rows),
                   static_cast<int>(slice), tables_.data(), in.data(), out.data() + first);
  }
}

}  // namespace ondavox::fcast
