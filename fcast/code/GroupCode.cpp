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

bool GroupCoder::Solve(int k, std::size_t symbolSize, std::span<const Block> blocks,
                       std::span<const GroupSymbol> symbols, std::vector<std::size_t>* useless) {
  useless->clear();
  // Columns: the missing source symbols, block after block.
  std::vector<std::size_t> firstColumn(blocks.size() + 1, 0);
  std::size_t ownRows = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    firstColumn[i + 1] = firstColumn[i] + blocks[i].missing.size();
    ownRows += blocks[i].repairIds.size();
  }
  const std::size_t columns = firstColumn.back();
  if (columns == 0) return true;
  const std::size_t rowCount = ownRows + symbols.size();
  if (rowCount < columns) return false;

  // Each equation: the unknowns' weights, followed by the identity that records which
  // equations a row has become a sum of; and apart, what its received symbol leaves once the
  // known source symbols are taken out. The weights are padded so that the vectorised kernel
  // can work on whole rows from any multiple of 32 on.
  const std::size_t width = std::max<std::size_t>(64, RoundUp(columns + rowCount, 32));
  rows_.assign(rowCount * width, 0);
  const auto row = [&](std::size_t r) { return &rows_[r * width]; };
  residuals_.resize(rowCount * symbolSize);
  const auto residual = [&](std::size_t r) { return &residuals_[r * symbolSize]; };
  coefficients_.resize(static_cast<std::size_t>(k));
  for (const Block& block : blocks) {
    for (std::uint8_t m : block.missing) std::memset(block.source[m], 0, symbolSize);
  }

  std::vector<std::uint8_t*> outs;
  std::size_t r = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const Block& block = blocks[i];
    if (block.repairIds.empty()) continue;
    outs.clear();
    for (std::size_t t = 0; t < block.repairIds.size(); ++t) outs.push_back(residual(r + t));
    code_->Encode(k, symbolSize, block.source, block.repairIds, outs.data());
    for (std::size_t t = 0; t < block.repairIds.size(); ++t, ++r) {
      Xor(symbolSize, block.repair[t], residual(r));
      code_->Coefficients(k, block.repairIds[t], coefficients_.data());
      for (std::size_t m = 0; m < block.missing.size(); ++m) {
        row(r)[firstColumn[i] + m] = coefficients_[block.missing[m]];
      }
    }
  }
  std::vector<const std::uint8_t* const*> sources;
  for (const Block& block : blocks) sources.push_back(block.source);
  outs.clear();
  for (std::size_t s = 0; s < symbols.size(); ++s) outs.push_back(residual(ownRows + s));
  Encode(k, symbolSize, sources, symbols, outs.data());
  for (std::size_t s = 0; s < symbols.size(); ++s) {
    std::uint8_t* target = row(ownRows + s);
    Xor(symbolSize, symbols[s].data, residual(ownRows + s));
    code_->Coefficients(k, symbols[s].id, coefficients_.data());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const std::uint8_t weight = GroupCoefficient(symbols[s].combination, static_cast<int>(i));
      for (std::size_t m = 0; m < blocks[i].missing.size(); ++m) {
        target[firstColumn[i] + m] = gf_mul(weight, coefficients_[blocks[i].missing[m]]);
      }
    }
  }
  for (std::size_t q = 0; q < rowCount; ++q) row(q)[columns + q] = 1;

  // Gauss-Jordan elimination on the weights. A pivot row has no weight left in the columns
  // before its own, so the row operations start at the multiple of 32 below the column. Rows
  // are searched in order, so a block's own repair rows (independent of each other, the code
  // being MDS) become pivots before any group row: the rows left over are group rows.
  std::vector<std::size_t> pivotOf(columns, rowCount);
  std::vector<bool> pivot(rowCount, false);
  bool complete = true;
  for (std::size_t c = 0; c < columns; ++c) {
    std::size_t p = 0;
    while (p < rowCount && (pivot[p] || row(p)[c] == 0)) ++p;
    if (p == rowCount) {
      complete = false;
      continue;
    }
    pivot[p] = true;
    pivotOf[c] = p;
    const std::uint8_t inverse = gf_inv(row(p)[c]);
    const std::size_t offset = c / 32 * 32;
    for (std::size_t q = 0; q < rowCount; ++q) {
      if (q != p && row(q)[c] != 0) {
        MultiplyAdd(width - offset, gf_mul(row(q)[c], inverse), row(p) + offset, row(q) + offset);
      }
    }
  }
  if (!complete) {
    for (std::size_t q = ownRows; q < rowCount; ++q) {
      if (!pivot[q]) useless->push_back(q - ownRows);
    }
    return false;
  }

  // Each missing symbol is its pivot row's sum of residuals, over its pivot weight: a matrix
  // product with ISA-L's dot-product kernels, from tables copied out of the multipliers', a
  // slice of the missing symbols at a time so that the tables stay small.
  constexpr std::size_t kSlice = 64;
  tables_.resize(32 * std::min(columns, kSlice) * rowCount);
  std::vector<unsigned char*> in(rowCount);
  for (std::size_t q = 0; q < rowCount; ++q) in[q] = residual(q);
  std::vector<unsigned char*> out;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    for (std::uint8_t m : blocks[i].missing) out.push_back(blocks[i].source[m]);
  }
  for (std::size_t first = 0; first < columns; first += kSlice) {
    const std::size_t slice = std::min(kSlice, columns - first);
    for (std::size_t c = first; c < first + slice; ++c) {
      const std::uint8_t* weights = row(pivotOf[c]);
      const std::uint8_t inverse = gf_inv(weights[c]);
      for (std::size_t q = 0; q < rowCount; ++q) {
        std::memcpy(&tables_[32 * ((c - first) * rowCount + q)],
                    MultiplierTable(gf_mul(inverse, weights[columns + q])), 32);
      }
    }
    ec_encode_data(static_cast<int>(symbolSize), static_cast<int>(rowCount),
                   static_cast<int>(slice), tables_.data(), in.data(), out.data() + first);
  }
  return true;
}

}  // namespace ondavox::fcast
