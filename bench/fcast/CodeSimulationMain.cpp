// Which erasure code, and which block size, lets every receiver of a carousel finish soonest
// without a return channel. For files of 128 MiB and 2 GiB sent to 3 and 10 receivers that each
// lose datagrams on their own (independently, or in bursts), it prints per code the mean and
// worst factor over the trials (symbols sent until the slowest receiver can decode, over the
// file's symbols, times the symbol header), the same until it has also decoded and hashed the
// file at 100 Mbit/s, the limit (an ideal code: one block, any S symbols decode), its closed
// form, and what a receiver holds to decode one block. Before that it measures a GF(2^16)
// multiply-add (its fastest form here) and the SHA-256 on one core, from which the decoding
// time is estimated.
//
// The codes:
//   grouped RS  the engine's code and order (see GroupedCode), with groups of 4 and 8 blocks;
//   RS16        Reed-Solomon over GF(2^16) through an additive FFT, n <= 65536 ids, blocks of
//               K = 1024 to 32768, one symbol of every block in turn;
//   fountain    a systematic rateless code, blocks of up to 56403 symbols, the same order; a
//               block fails to decode from K + e symbols with probability 10^-2(e+1).
//
// Deterministic: the decoding and hashing times use reference rates, the ones measured here on
// an idle core, unless --measured. The default run takes under a minute on one core, --quick a
// fifth of that.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/fcast/CodeSimulation.h"
#include "fcast/code/Gf16.h"
#include "fcast/code/Gf16MultiplyAdd.h"
#include "fcast/engine/Sha256.h"

namespace {

using namespace ondavox::fcast;
using namespace ondavox::fcast::simulation;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr double kLinkBitsPerSecond = 100e6;

// Bytes per second of |run| over |bytes|, repeated for about a third of a second.
template <typename Run>
double Rate(std::size_t bytes, Run run) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::uint64_t done = 0;
  while (Clock::now() - start < std::chrono::milliseconds(300)) {
    for (int i = 0; i < 8; ++i) run();
    done += 8 * bytes;
  }
  return static_cast<double>(done) / std::chrono::duration<double>(Clock::now() - start).count();
}

struct Rates {
  double multiplyAdd = 0;  // GF(2^16), bytes per second, the fastest form
  double hash = 0;
};

// The rates measured here on an idle core (GFNI, SHA-256 with the processor's instructions):
// the table uses them unless --measured, so that it does not change with the machine's load.
constexpr Rates kReference{40e9, 1.7e9};

// Whether |form| computes dest ^= c * src as the definition does, over |src| in the chunked
// layout.
template <typename Form>
bool Agrees(const std::vector<std::uint8_t>& src, std::uint16_t c, Form form) {
  std::vector<std::uint8_t> product(src.size(), 0);
  form(src.data(), product.data());
  for (std::size_t i = 0; i < src.size(); i += 64) {
    for (std::size_t j = 0; j < 32; ++j) {
      const auto x = static_cast<std::uint16_t>(src[i + j] | src[i + j + 32] << 8);
      const std::uint16_t y = Gf16::Multiply(c, x);
      if (product[i + j] != (y & 0xff) || product[i + j + 32] != (y >> 8)) return false;
    }
  }
  return true;
}

// Multiply-adds over 64 symbol-sized buffers (1408 bytes: 1400 in whole 64-byte chunks), as a
// butterfly layer over a stripe in cache touches them, and the SHA-256 of 4 MiB. Nothing when
// a vector form of the multiply-add disagrees with the definition.
std::optional<Rates> Measure() {
  constexpr std::size_t kBytes = 64 * 1408;
  constexpr std::uint16_t kConstant = 0x9a3c;
  std::vector<std::uint8_t> src(kBytes);
  Random random(16);
  for (std::uint8_t& byte : src) byte = static_cast<std::uint8_t>(random.Next());
  std::vector<std::uint8_t> dest(kBytes);
  const Gf16MultiplyAdd code(kConstant);
  Rates rates;
  std::printf("GF(2^16) multiply-add, one core, in cache:");
  const std::pair<Gf16Form, const char*> forms[] = {{Gf16Form::kScalar, "scalar logarithms"},
                                                    {Gf16Form::kAvx2, "AVX2 nibble shuffles"},
                                                    {Gf16Form::kGfni, "GFNI affine"}};
  const char* separator = " ";
  for (const auto& entry : forms) {
    if (!Gf16MultiplyAdd::Supported(entry.first)) continue;
    const Gf16Form form = entry.first;
    const auto run = [&](const std::uint8_t* in, std::uint8_t* out) {
      code.MultiplyAdd(in, out, kBytes, form);
    };
    if (!Agrees(src, kConstant, run)) return std::nullopt;
    const double rate = Rate(kBytes, [&] { run(src.data(), dest.data()); });
    std::printf("%s%s %.2f GB/s", separator, entry.second, rate / 1e9);
    separator = ", ";
    rates.multiplyAdd = std::max(rates.multiplyAdd, rate);
  }
  std::vector<std::uint8_t> file(4 * kMiB);
  for (std::uint8_t& byte : file) byte = static_cast<std::uint8_t>(random.Next());
  rates.hash = Rate(file.size(), [&] {
    Sha256 sha;
    sha.Update(file);
    dest[0] ^= sha.Final()[0];
  });
  std::printf("\nSHA-256, one core: %.2f GB/s\n", rates.hash / 1e9);
  return rates;
}

// An additive-FFT decoder of a block of K works on n = 2^ceil(log2 2K) symbols (the source and
// the first repair ids): an inverse and a forward transform, (n/2) log2 n butterflies each, a
// multiply-add (and an addition, not counted) of whole symbols per butterfly.
double Rs16DecodeRate(const Rates& rates, std::uint64_t k) {
  const std::uint64_t n = std::bit_ceil(2 * k);
  const double butterflies = static_cast<double>(n) * std::log2(static_cast<double>(n));
  return rates.multiplyAdd * static_cast<double>(k) / butterflies;
}

std::vector<std::unique_ptr<CodeModel>> Codes(std::uint64_t symbols, const Rates& rates) {
  std::vector<std::unique_ptr<CodeModel>> codes;
  codes.push_back(std::make_unique<GroupedCode>("grouped RS g4", symbols, 4, 4));
  codes.push_back(std::make_unique<GroupedCode>("grouped RS g8", symbols, 8, 4));
  for (const std::uint64_t k : {1024, 4096, 16384, 32768}) {
    const InterleavedCode::Shape shape{k, 65536, Overhead::kNone, DecodeMemory::kTransform};
    const Finishing finishing{kLinkBitsPerSecond / 8 / (kSymbol + kSymbolHeaderSize),
                              Rs16DecodeRate(rates, LargestBlock(symbols, k)), rates.hash, 2};
    codes.push_back(std::make_unique<InterleavedCode>("RS16", symbols, shape, finishing));
  }
  const InterleavedCode::Shape fountain{56403, 0, Overhead::kFountain, DecodeMemory::kBlock};
  codes.push_back(std::make_unique<InterleavedCode>("fountain", symbols, fountain));
  return codes;
}

std::string Bytes(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * kMiB) {
    std::snprintf(text, sizeof text, "%.0f GiB", static_cast<double>(bytes) / (1024 * kMiB));
  } else if (bytes >= kMiB) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / kMiB);
  } else {
    std::snprintf(text, sizeof text, "%.0f KiB", static_cast<double>(bytes) / 1024);
  }
  return text;
}

std::string Factor(double value) {
  char text[16];
  if (value == 0) return "-";
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

void PrintTable(bool quick, const Rates& rates) {
  const LossModel losses[] = {{0, 1}, {0.05, 1}, {0.20, 1}, {0.20, 8}};
  std::printf("\n%-13s %5s %3s %7s %7s %6s %6s %6s %6s %6s %6s %6s %6s %3s %9s\n", "code", "K", "R",
              "loss", "size", "trials", "mean", "worst", "ready", "worst", "sym", "limit", "closed",
              "unf", "mem/block");
  for (const std::uint64_t fileBytes : {128 * kMiB, 2048 * kMiB}) {
    const std::uint64_t symbols = Symbols(fileBytes);
    std::vector<std::unique_ptr<CodeModel>> codes = Codes(symbols, rates);
    InterleavedCode ideal("ideal", symbols, {symbols, 0, Overhead::kNone, DecodeMemory::kNone});
    for (const int receivers : {3, 10}) {
      for (const LossModel& loss : losses) {
        const int trials = fileBytes <= 128 * kMiB ? 96 : 6;
        const Case c{fileBytes, receivers, loss, quick ? std::max(2, trials / 6) : trials};
        const Outcome limit = Simulate(ideal, c);
        for (const std::unique_ptr<CodeModel>& code : codes) {
          const Outcome o = Simulate(*code, c);
          std::printf("%-13s %5llu %3d %7s %7s %6d %6.3f %6.3f %6s %6s %6s %6.3f %6s %3d %9s\n",
                      code->Name().c_str(), static_cast<unsigned long long>(code->BlockSymbols()),
                      receivers, loss.Name().c_str(), Bytes(fileBytes).c_str(), c.trials, o.mean,
                      o.worst, Factor(o.meanReady).c_str(), Factor(o.worstReady).c_str(),
                      Factor(o.meanReadySymbolDigests).c_str(), limit.mean,
                      loss.Bursty() ? "-" : Factor(ClosedFormLimit(c)).c_str(), o.unfinished,
                      Bytes(code->DecodeBytes()).c_str());
        }
        std::fflush(stdout);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  bool measured = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--measured") == 0) {
      measured = true;
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--measured]\n", argv[0]);
      return 2;
    }
  }
  const std::optional<Rates> rates = Measure();
  if (!rates) {
    std::fprintf(stderr, "a vector GF(2^16) multiply-add disagrees with the definition\n");
    return 1;
  }
  const Rates used = measured ? *rates : kReference;
  std::printf(
      "\nmean, worst: symbols sent until the slowest receiver can decode, over the file's "
      "symbols, times %.4f (header), over the trials.\nready: until it has also decoded (RS16, "
      "2 cores, multiply-add at %.1f GB/s) and hashed (%.2f GB/s) the file at %.0f Mbit/s "
      "(SHA-256 in file order; sym: the mean with a digest of the symbols' digests).\n"
      "limit: mean of an ideal code; closed: its normal approximation. unf: trials where a "
      "receiver ran out of fresh symbols.\nmem/block: whole symbols in memory to decode one "
      "block (RS16: the transform over the source and first repair ids, 2^ceil(log2 2K)).\n",
      kHeaderFactor, used.multiplyAdd / 1e9, used.hash / 1e9, kLinkBitsPerSecond / 1e6);
  PrintTable(quick, used);
  return 0;
}
