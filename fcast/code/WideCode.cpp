#include "fcast/code/WideCode.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>

#include "fcast/code/Gf16.h"
#include "fcast/code/WideFft.h"

namespace ondavox::fcast {
namespace {

constexpr std::size_t kChunk = WideFft::kChunkBytes;
// Windows from this many points up have their columns shared out among threads.
constexpr std::uint32_t kMinSharedPoints = 4096;
alignas(16) constexpr std::uint8_t kZeroChunk[kChunk] = {};

// Writes a whole chunk past the caches: the work memory is larger than they are, and a chunk
// written whole need not be read first.
void StreamChunk(std::uint8_t* chunk, const std::uint8_t* from) {
  for (std::size_t i = 0; i < kChunk; i += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(chunk + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
  }
}

std::size_t ChunkBytes(std::size_t symbolSize, std::size_t column) {
  return std::min(kChunk, symbolSize - column * kChunk);
}

// The Walsh-Hadamard transform over the integers modulo the field's group order, in place.
void WalshHadamard(std::vector<std::uint32_t>& v) {
  constexpr std::uint32_t p = Gf16::kOrder;
  for (std::size_t len = 1; len < v.size(); len <<= 1) {
    for (std::size_t i = 0; i < v.size(); i += 2 * len) {
      for (std::size_t j = i; j < i + len; ++j) {
        const std::uint32_t a = v[j];
        const std::uint32_t b = v[j + len];
        const std::uint32_t sum = a + b;
        const std::uint32_t difference = a + p - b;
        v[j] = sum >= p ? sum - p : sum;
        v[j + len] = difference >= p ? difference - p : difference;
      }
    }
  }
}

}  // namespace

std::uint32_t WideStride(std::uint32_t k) { return std::bit_ceil(k); }

void WideEncoder::EncodeCoset(std::uint32_t k, std::size_t symbolSize,
                              const std::uint8_t* const* source, std::uint32_t coset,
                              std::uint32_t count, std::uint8_t* const* out) {
  const std::uint32_t stride = WideStride(k);
  work_.resize(stride * kChunk);
  std::uint8_t* column = work_.data();
  const WidePoints inputs = WidePoints::Below(stride, k);
  const WidePoints wanted = WidePoints::Below(stride, count);
  for (std::size_t c = 0; c * kChunk < symbolSize; ++c) {
    const std::size_t bytes = ChunkBytes(symbolSize, c);
    for (std::uint32_t u = 0; u < k; ++u) {
      WideFft::ToChunk(source[u] + c * kChunk, bytes, column + u * kChunk);
    }
    std::memset(column + k * kChunk, 0, (stride - k) * kChunk);
    WideFft::Interpolate(column, stride, 0, inputs);
    WideFft::Evaluate(column, stride, coset * stride, wanted);
    for (std::uint32_t u = 0; u < count; ++u) {
      WideFft::FromChunk(column + u * kChunk, out[u] + c * kChunk, bytes);
    }
  }
}

WideDecoder::WideDecoder(std::size_t maxWorkBytes, int threads)
    : maxWorkBytes_(maxWorkBytes),
      threads_(std::clamp(threads, 1,
                          static_cast<int>(std::max(1u, std::thread::hardware_concurrency())))) {}

void WideDecoder::Prepare(std::uint32_t k, std::size_t symbolSize) {
  const std::uint32_t n = std::min(kWideSymbolIds, 2 * WideStride(k));
  WideFft::Prepare();
  PrepareWalsh(n);
  // Faulting the pages in costs as much as a pass of the transforms.
  const std::size_t bytes = PassColumnsFor(n, (symbolSize + kChunk - 1) / kChunk) * n * kChunk;
  if (std::uint8_t* work = work_.Reserve(bytes)) std::memset(work, 0, bytes);
}

std::size_t WideDecoder::PassColumnsFor(std::uint32_t n, std::size_t columns) const {
  const std::size_t fit = std::max<std::size_t>(1, maxWorkBytes_ / (std::size_t{n} * kChunk));
  const std::size_t passes = (columns + fit - 1) / fit;
  return (columns + passes - 1) / passes;
}

bool WideDecoder::Plan(std::uint32_t k, std::size_t symbolSize,
                       std::span<const std::uint16_t> ids) {
  if (ids.size() < k) return false;
  const std::uint32_t stride = WideStride(k);
  // The smallest window of stride 2^j ids that holds k received symbols.
  std::uint32_t n = stride;
  while (n < kWideSymbolIds &&
         std::count_if(ids.begin(), ids.end(), [n](std::uint16_t id) { return id < n; }) < k) {
    n *= 2;
  }
  k_ = k;
  n_ = n;
  symbolSize_ = symbolSize;
  columns_ = (symbolSize + kChunk - 1) / kChunk;
  passColumns_ = PassColumnsFor(n, columns_);
  passes_ = static_cast<int>((columns_ + passColumns_ - 1) / passColumns_);
  pass_ = 0;
  begun_ = false;
  solved_ = false;

  std::vector<std::uint8_t> known(n, 0);
  for (std::uint16_t id : ids) {
    if (id < n) known[id] = 1;
  }
  std::fill(known.begin() + k, known.begin() + stride, 1);  // the zero pads
  missing_.clear();
  for (std::uint32_t id = 0; id < k; ++id) {
    if (!known[id]) missing_.push_back(id);
  }
  points_.assign(ids.size(), kUnused);
  if (missing_.empty()) return true;  // nothing to read, nothing to solve
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] < n) points_[i] = ids[i];
  }
  empty_.clear();
  std::vector<std::uint32_t> used;
  for (std::uint32_t point = 0; point < n; ++point) {
    if (!known[point] || (point >= k && point < stride)) {
      empty_.push_back(point);
    } else {
      used.push_back(point);
    }
  }
  inputs_ = WidePoints(n, used);
  wanted_ = WidePoints(n, missing_);
  Locate(known);
  staging_.resize(passColumns_ * kChunk);
  return work_.Reserve(passColumns_ * n * kChunk) != nullptr;
}

void WideDecoder::PrepareWalsh(std::uint32_t n) {
  if (walshSize_ == n) return;
  walshOfLog_.assign(n, 0);
  for (std::uint32_t i = 1; i < n; ++i) walshOfLog_[i] = Gf16::Log(static_cast<std::uint16_t>(i));
  WalshHadamard(walshOfLog_);
  walshSize_ = n;
}

void WideDecoder::Locate(const std::vector<std::uint8_t>& known) {
  // log L(i) = sum over the erased e of log(i + e), log 0 taken as 0: at an erased i, the
  // product over the others, L'(i). A convolution over XOR, by Walsh-Hadamard transforms.
  PrepareWalsh(n_);
  std::vector<std::uint32_t> logs(n_);
  for (std::uint32_t i = 0; i < n_; ++i) logs[i] = known[i] ? 0 : 1;
  WalshHadamard(logs);
  for (std::uint32_t i = 0; i < n_; ++i) {
    logs[i] = static_cast<std::uint32_t>(std::uint64_t{logs[i]} * walshOfLog_[i] % Gf16::kOrder);
  }
  WalshHadamard(logs);
  // Dividing by n = 2^m: 2^16 = 1 modulo the order, so 1 / n = 2^(16 - m).
  const std::uint32_t inverseN = 1u << ((16 - std::countr_zero(n_)) % 16);
  locator_.assign(points_.size(), Gf16MultiplyAdd());
  for (std::size_t i = 0; i < points_.size(); ++i) {
    if (points_[i] == kUnused) continue;
    const std::uint64_t log = std::uint64_t{logs[points_[i]]} * inverseN % Gf16::kOrder;
    locator_[i] = Gf16MultiplyAdd(Gf16::Exp(static_cast<std::uint32_t>(log)));
  }
  derivatives_.clear();
  for (std::uint32_t id : missing_) {
    const std::uint64_t log = std::uint64_t{logs[id]} * inverseN % Gf16::kOrder;
    derivatives_.emplace_back(Gf16::Exp(Gf16::kOrder - static_cast<std::uint32_t>(log)));
  }
}

std::span<const std::uint32_t> WideDecoder::Missing() const { return missing_; }

bool WideDecoder::Uses(std::size_t index) const { return points_[index] != kUnused; }

int WideDecoder::Passes() const { return passes_; }

std::size_t WideDecoder::PassBegin(int pass) const {
  return std::min(symbolSize_, pass * passColumns_ * kChunk);
}

std::size_t WideDecoder::PassEnd(int pass) const {
  return std::min(symbolSize_, (pass + 1) * passColumns_ * kChunk);
}

std::size_t WideDecoder::PassColumns() const {
  return std::min(passColumns_, columns_ - pass_ * passColumns_);
}

void WideDecoder::BeginPass() {
  if (solved_) {
    ++pass_;
    solved_ = false;
    begun_ = false;
  }
  if (begun_) return;
  for (std::size_t c = 0; c < PassColumns(); ++c) {
    std::uint8_t* column = &work_.data()[c * n_ * kChunk];
    for (std::uint32_t point : empty_) StreamChunk(column + point * kChunk, kZeroChunk);
  }
  begun_ = true;
}

void WideDecoder::Put(std::size_t index, const std::uint8_t* symbol) {
  BeginPass();
  const std::size_t columns = PassColumns();
  const std::size_t first = pass_ * passColumns_;
  for (std::size_t c = 0; c < columns; ++c) {
    WideFft::ToChunk(symbol + (first + c) * kChunk, ChunkBytes(symbolSize_, first + c),
                     &staging_[c * kChunk]);
  }
  locator_[index].Scale(staging_.data(), columns * kChunk);
  const std::size_t point = points_[index];
  for (std::size_t c = 0; c < columns; ++c) {
    StreamChunk(&work_.data()[(c * n_ + point) * kChunk], &staging_[c * kChunk]);
  }
}

void WideDecoder::Solve(const std::function<void()>& between) {
  if (missing_.empty()) return;
  BeginPass();
  _mm_sfence();  // the streamed chunks before the transforms read them
  // With f the block's polynomial and L the locator, g = f L has degree below n: its values
  // (zero at the erased points) give its coefficients, and g'(e) = f(e) L'(e) at an erased e.
  // The erased sources lie below the stride, so only the coefficients below it are derived.
  // Columns are independent: each thread takes the next one not yet taken, so that a thread
  // the scheduler holds back (receivers sharing a machine's cores) leaves its share to the
  // others rather than being waited for. A helper is worth its start (a few tens of
  // microseconds against a millisecond a column); without one, the caller does all.
  const std::size_t columns = PassColumns();
  const std::size_t shares = n_ >= kMinSharedPoints ? std::min<std::size_t>(threads_, columns) : 1;
  std::atomic<std::size_t> next{0};
  const auto take = [&next, columns]() -> std::optional<std::size_t> {
    const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
    if (c >= columns) return std::nullopt;
    return c;
  };
  std::vector<std::thread> helpers;
  for (std::size_t share = 1; share < shares; ++share) {
    try {
      helpers.emplace_back([this, &take] {
        while (const std::optional<std::size_t> c = take()) SolveColumn(*c);
      });
    } catch (const std::system_error&) {
      break;
    }
  }
  for (bool first = true; const std::optional<std::size_t> c = take(); first = false) {
    if (!first && between) between();
    SolveColumn(*c);
  }
  for (std::thread& helper : helpers) helper.join();
  solved_ = true;
}

void WideDecoder::SolveColumn(std::size_t c) {
  std::uint8_t* column = &work_.data()[c * n_ * kChunk];
  WideFft::Interpolate(column, n_, 0, inputs_);
  WideFft::Derive(column, n_, WideStride(k_));
  WideFft::Evaluate(column, n_, 0, wanted_);
  for (std::size_t m = 0; m < missing_.size(); ++m) {
    derivatives_[m].Scale(column + missing_[m] * kChunk, kChunk);
  }
}

void WideDecoder::Get(std::uint32_t id, std::uint8_t* symbol) const {
  const std::size_t first = pass_ * passColumns_;
  for (std::size_t c = 0; c < PassColumns(); ++c) {
    WideFft::FromChunk(&work_.data()[(c * n_ + id) * kChunk], symbol + (first + c) * kChunk,
                       ChunkBytes(symbolSize_, first + c));
  }
}

}  // namespace ondavox::fcast
