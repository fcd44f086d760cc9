#include "fcast/code/ReedSolomonCode.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "fcast/code/AdditiveFft.h"
#include "fcast/code/CodeLimits.h"
#include "fcast/code/GaloisTables.h"

namespace ondavox::fcast {

std::unique_ptr<ErasureCode> MakeErasureCode() { return std::make_unique<ReedSolomonCode>(); }

namespace {

constexpr int kPoints = AdditiveFft::kPoints;
constexpr int kSourceHalf = 1;  // points 128..255: ids 0..127
constexpr int kOtherHalf = 0;   // points 0..126: ids 128..254
constexpr std::size_t kStripBytes = 448;
constexpr std::size_t kStrideBytes = 512;  // room for a strip and a remainder below 64

// Butterflies that evaluating |wanted| takes.
int EvaluateCost(const AdditiveFft::Outputs& wanted) {
  int butterflies = 0;
  for (int span = kPoints / 2; span >= 1; span /= 2) {
    for (int first = 0; first < kPoints; first += 2 * span) {
      for (int i = first; i < first + 2 * span; ++i) {
        if (wanted.test(static_cast<std::size_t>(i))) {
          butterflies += span;
          break;
        }
      }
    }
  }
  return butterflies;
}

}  // namespace

void ReedSolomonCode::UseK(int k) {
  if (matrices_[0].k == k) return;
  encodeIds_.clear();
  std::swap(matrices_[0], matrices_[1]);
  if (matrices_[0].k == k) return;
  Matrices& m = matrices_[0];
  m.k = k;
  const int pads = kPoints - k;  // ids k..127: the rest of the sources' half

  // The interpolation as a matrix: interpolating 128 symbols of 128 bytes, the u-th holding 1
  // at byte u, leaves at byte u of symbol i the weight of value u in coefficient i.
  std::vector<std::uint8_t> interpolation(static_cast<std::size_t>(kPoints) * kPoints, 0);
  std::uint8_t* rows[kPoints];
  for (int u = 0; u < kPoints; ++u) {
    rows[u] = &interpolation[static_cast<std::size_t>(u) * kPoints];
    rows[u][u] = 1;
  }
  AdditiveFft::Interpolate(rows, kPoints, kSourceHalf);

  // Coefficients k..127 of a polynomial of degree below k are zero. With the sources' values
  // s and the rest of the half's values p: C_s s + C_p p = 0, so p = C_p^-1 C_s s (C being
  // those rows of the interpolation; the sign does not matter in GF(2^8)). C_p is invertible
  // because k values fix such a polynomial, and with it p.
  m.pad.assign(static_cast<std::size_t>(pads) * k, 0);
  if (pads > 0) {
    std::vector<std::uint8_t> cp(static_cast<std::size_t>(pads) * pads);
    std::vector<std::uint8_t> inverse(cp.size());
    for (int a = 0; a < pads; ++a) {
      for (int b = 0; b < pads; ++b) cp[a * pads + b] = rows[k + a][k + b];
    }
    gf_invert_matrix(cp.data(), inverse.data(), pads);
    for (int a = 0; a < pads; ++a) {
      for (int i = 0; i < k; ++i) {
        std::uint8_t sum = 0;
        for (int b = 0; b < pads; ++b) sum ^= gf_mul(inverse[a * pads + b], rows[k + b][i]);
        m.pad[static_cast<std::size_t>(a) * k + i] = sum;
      }
    }
    m.padTables.resize(static_cast<std::size_t>(32) * k * pads);
    InitTables(k, pads, m.pad.data(), m.padTables.data());
  }

  // Row id holds the weights of the k source symbols in symbol id: the identity, then the pad
  // matrix, then the other half, which the transform gives from k-byte symbols holding the
  // identity and the pad matrix as the sources' half.
  m.generator.assign(static_cast<std::size_t>(kMaxSymbolsPerBlock) * k, 0);
  std::vector<std::uint8_t> half(static_cast<std::size_t>(kPoints) * k, 0);
  std::uint8_t* symbols[kPoints];
  for (int u = 0; u < kPoints; ++u) {
    symbols[u] = &half[static_cast<std::size_t>(u) * k];
    if (u < k) {
      symbols[u][u] = 1;
    } else {
      std::copy_n(&m.pad[static_cast<std::size_t>(u - k) * k], k, symbols[u]);
    }
    std::copy_n(symbols[u], k, &m.generator[static_cast<std::size_t>(u) * k]);
  }
  AdditiveFft::Interpolate(symbols, static_cast<std::size_t>(k), kSourceHalf);
  AdditiveFft::Evaluate(symbols, static_cast<std::size_t>(k), kOtherHalf,
                        AdditiveFft::Outputs().set());
  for (int id = kPoints; id < kMaxSymbolsPerBlock; ++id) {
    std::copy_n(symbols[id - kPoints], k, &m.generator[static_cast<std::size_t>(id) * k]);
  }
}

bool ReedSolomonCode::EncodeByFft(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                                  std::span<const std::uint8_t> ids, std::uint8_t* const* out) {
  const int pads = kPoints - k;
  AdditiveFft::Outputs wanted;
  for (std::uint8_t id : ids) {
    if (id >= kPoints) wanted.set(static_cast<std::size_t>(id - kPoints));
  }
  if (wanted.none()) return false;
  // In multiply-adds of the matrix kernels: the pad matrix, then the transform, whose
  // butterflies (a multiply-add and an addition over two symbols, both read and written) take
  // about 3.5 times one, measured on one core, since those kernels keep six outputs in
  // registers over a pass through the sources.
  const int fftCost = 2 * pads * k + 7 * (kPoints / 2 * 7 + EvaluateCost(wanted));
  if (fftCost >= 2 * static_cast<int>(ids.size()) * k) return false;
  // The transform runs strip by strip, a few hundred bytes of every symbol at a time, so that
  // its 128 symbols stay in the processor's cache through all its layers; a short remainder
  // joins the strip before it.
  workspace_.resize(kPoints * kStrideBytes + 64);
  std::uint8_t* base =
      workspace_.data() + (64 - reinterpret_cast<std::uintptr_t>(workspace_.data()) % 64) % 64;
  std::uint8_t* symbols[kPoints];
  for (int u = 0; u < kPoints; ++u) symbols[u] = base + u * kStrideBytes;
  for (std::size_t offset = 0; offset < symbolSize;) {
    std::size_t length = std::min(kStripBytes, symbolSize - offset);
    if (symbolSize - offset - length < 64) length = symbolSize - offset;
    for (int u = 0; u < k; ++u) std::memcpy(symbols[u], source[u] + offset, length);
    if (pads > 0) {
      ec_encode_data(static_cast<int>(length), k, pads, matrices_[0].padTables.data(), symbols,
                     symbols + k);
    }
    for (std::size_t r = 0; r < ids.size(); ++r) {
      if (ids[r] < kPoints) std::memcpy(out[r] + offset, symbols[ids[r]], length);
    }
    AdditiveFft::Interpolate(symbols, length, kSourceHalf);
    AdditiveFft::Evaluate(symbols, length, kOtherHalf, wanted);
    for (std::size_t r = 0; r < ids.size(); ++r) {
      if (ids[r] >= kPoints) std::memcpy(out[r] + offset, symbols[ids[r] - kPoints], length);
    }
    offset += length;
  }
  return true;
}

void ReedSolomonCode::Encode(int k, std::size_t symbolSize, const std::uint8_t* const* source,
                             std::span<const std::uint8_t> ids, std::uint8_t* const* out) {
  if (ids.empty()) return;
  UseK(k);
  if (EncodeByFft(k, symbolSize, source, ids, out)) return;
  const int rows = static_cast<int>(ids.size());
  if (!std::equal(ids.begin(), ids.end(), encodeIds_.begin(), encodeIds_.end())) {
    encodeIds_.assign(ids.begin(), ids.end());
    scratch_.resize(static_cast<std::size_t>(rows) * k);
    for (int r = 0; r < rows; ++r) {
      std::copy_n(&matrices_[0].generator[static_cast<std::size_t>(ids[r]) * k], k,
                  &scratch_[r * k]);
    }
    encodeTables_.resize(static_cast<std::size_t>(32) * k * rows);
    InitTables(k, rows, scratch_.data(), encodeTables_.data());
  }
  ec_encode_data(static_cast<int>(symbolSize), k, rows, encodeTables_.data(),
                 const_cast<unsigned char**>(source), const_cast<unsigned char**>(out));
}

void ReedSolomonCode::Coefficients(int k, int id, std::uint8_t* row) {
  UseK(k);
  std::copy_n(&matrices_[0].generator[static_cast<std::size_t>(id) * k], k, row);
}

bool ReedSolomonCode::Decode(int k, std::size_t symbolSize, std::uint8_t* const* source,
                             std::span<const std::uint8_t> missing,
                             std::span<const std::uint8_t> repairIds,
                             const std::uint8_t* const* repair) {
  const int e = static_cast<int>(missing.size());
  if (e == 0) return true;
  if (repairIds.size() < missing.size() || k > kMaxCodeSourceSymbols) return false;
  UseK(k);

  // A: the missing columns of the repair rows used; its inverse gives the missing symbols.
  std::vector<std::uint8_t> a(static_cast<std::size_t>(e) * e);
  std::vector<std::uint8_t> inverse(a.size());
  for (int r = 0; r < e; ++r) {
    const std::uint8_t* row = &matrices_[0].generator[static_cast<std::size_t>(repairIds[r]) * k];
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
      const std::uint8_t* row = &matrices_[0].generator[static_cast<std::size_t>(repairIds[r]) * k];
      for (int t = 0; t < knownCount; ++t) knownRows[r * knownCount + t] = row[known[t]];
      in[r] = &knownRows[static_cast<std::size_t>(r) * knownCount];
      out[r] = &product[static_cast<std::size_t>(r) * knownCount];
    }
    std::vector<std::uint8_t> tables(static_cast<std::size_t>(32) * e * e);
    InitTables(e, e, inverse.data(), tables.data());
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
  InitTables(k, e, coefficients.data(), decodeTables_.data());
  ec_encode_data(static_cast<int>(symbolSize), k, e, decodeTables_.data(),
                 const_cast<unsigned char**>(inputs.data()), outputs.data());
  return true;
}

}  // namespace ondavox::fcast
