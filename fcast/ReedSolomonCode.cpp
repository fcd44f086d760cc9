#include "fcast/ReedSolomonCode.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <array>

#include "fcast/Packet.h"

namespace ondavox::fcast {

std::unique_ptr<ErasureCode> MakeErasureCode() { return std::make_unique<ReedSolomonCode>(); }

void ReedSolomonCode::UseK(int k) {
  if (k == k_) return;
  k_ = k;
  generator_.assign(static_cast<std::size_t>(kMaxSymbolsPerBlock) * k, 0);
  gf_gen_cauchy1_matrix(generator_.data(), kMaxSymbolsPerBlock, k);
  encodeIds_.clear();
}

void ReedSolomonCode::Encode(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                             std::span<const std::uint8_t> ids, std::uint8_t* const* out) {
  if (ids.empty()) return;
  UseK(k);
  const int rows = static_cast<int>(ids.size());
  if (!std::equal(ids.begin(), ids.end(), encodeIds_.begin(), encodeIds_.end())) {
    encodeIds_.assign(ids.begin(), ids.end());
    scratch_.resize(static_cast<std::size_t>(rows) * k);
    for (int r = 0; r < rows; ++r) {
      std::copy_n(&generator_[static_cast<std::size_t>(ids[r]) * k], k, &scratch_[r * k]);
    }
    encodeTables_.resize(static_cast<std::size_t>(32) * k * rows);
    ec_init_tables(k, rows, scratch_.data(), encodeTables_.data());
  }
  ec_encode_data(static_cast<int>(symbolSize), k, rows, encodeTables_.data(),
                 const_cast<unsigned char**>(source), const_cast<unsigned char**>(out));
}

bool ReedSolomonCode::Decode(int k, std::size_t symbolSize, std::uint8_t* const* source,
                             std::span<const std::uint8_t> missing,
                             std::span<const std::uint8_t> repairIds,
                             const std::uint8_t* const* repair) {
  const int e = static_cast<int>(missing.size());
  if (e == 0) return true;
  if (repairIds.size() < missing.size()) return false;
  UseK(k);

  // A: the missing columns of the repair rows used; its inverse gives the missing symbols.
  std::vector<std::uint8_t> a(static_cast<std::size_t>(e) * e);
  std::vector<std::uint8_t> inverse(a.size());
  for (int r = 0; r < e; ++r) {
    const std::uint8_t* row = &generator_[static_cast<std::size_t>(repairIds[r]) * k];
    for (int c = 0; c < e; ++c) a[r * e + c] = row[missing[c]];
  }
  if (gf_invert_matrix(a.data(), inverse.data(), e) != 0) return false;

  // Inputs: the k - e received source symbols, then the e repair symbols. Output row i is
  // inverse * (repair + C_known * known), so the coefficient of known column j is
  // sum_r inverse[i][r] * C[r][j], and of repair r is inverse[i][r].
  std::vector<const std::uint8_t*> inputs;
  inputs.reserve(k);
  std::vector<int> known;
  known.reserve(k - e);
  for (int j = 0, m = 0; j < k; ++j) {
    if (m < e && missing[m] == j) {
      ++m;
    } else {
      known.push_back(j);
      inputs.push_back(source[j]);
    }
  }
  for (int r = 0; r < e; ++r) inputs.push_back(repair[r]);

  // The known columns' coefficients, inverse * C_known, are a small matrix product that the
  // same kernel computes: rows of C_known in, rows of the product out.
  const int knownCount = k - e;
  std::vector<std::uint8_t> coefficients(static_cast<std::size_t>(e) * k);
  if (knownCount > 0) {
    std::vector<std::uint8_t> knownRows(static_cast<std::size_t>(e) * knownCount);
    std::vector<std::uint8_t> product(knownRows.size());
    std::vector<unsigned char*> in(e);
    std::vector<unsigned char*> out(e);
    for (int r = 0; r < e; ++r) {
      const std::uint8_t* row = &generator_[static_cast<std::size_t>(repairIds[r]) * k];
      for (int t = 0; t < knownCount; ++t) knownRows[r * knownCount + t] = row[known[t]];
      in[r] = &knownRows[static_cast<std::size_t>(r) * knownCount];
      out[r] = &product[static_cast<std::size_t>(r) * knownCount];
    }
    std::vector<std::uint8_t> tables(static_cast<std::size_t>(32) * e * e);
    ec_init_tables(e, e, inverse.data(), tables.data());
    ec_encode_data(knownCount, e, e, tables.data(), in.data(), out.data());
    for (int i = 0; i < e; ++i) {
      std::copy_n(out[i], knownCount, &coefficients[static_cast<std::size_t>(i) * k]);
    }
  }
  for (int i = 0; i < e; ++i) {
    std::copy_n(&inverse[static_cast<std::size_t>(i) * e], e,
                &coefficients[static_cast<std::size_t>(i) * k + knownCount]);
  }
  std::vector<std::uint8_t*> outputs;
  outputs.reserve(e);
  for (int m : missing) outputs.push_back(source[m]);
  decodeTables_.resize(static_cast<std::size_t>(32) * k * e);
  ec_init_tables(k, e, coefficients.data(), decodeTables_.data());
  ec_encode_data(static_cast<int>(symbolSize), k, e, decodeTables_.data(),
                 const_cast<unsigned char**>(inputs.data()), outputs.data());
  return true;
}

}  // namespace ondavox::fcast
