// Speed of the erasure code on one core, in the units of the targets: repair symbols produced
// per second by the sender, and file data rebuilt per second by the receiver at a given loss
// (the codec alone, and the receiver's whole path: symbols into a temporary file and hashed,
// blocks rebuilt from disk as they complete, the digest checked), and what a signed descriptor
// costs: the sender signs two per file, each receiver verifies two per file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "fcast/code/WideCode.h"
#include "fcast/engine/FileDigest.h"
#include "fcast/engine/IncomingFile.h"
#include "fcast/engine/Packet.h"

namespace {

using namespace ondavox::fcast;

constexpr std::size_t kSymbol = kDefaultSymbolSize;

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::vector<const std::uint8_t*> Pointers(const std::vector<std::uint8_t>& bytes, int count) {
  std::vector<const std::uint8_t*> out;
  for (int i = 0; i < count; ++i) out.push_back(&bytes[static_cast<std::size_t>(i) * kSymbol]);
  return out;
}

// The wide code's repair symbols: one coset of K of them for a block of k source symbols.
void BM_WideEncodeCoset(benchmark::State& state) {
  const auto k = static_cast<std::uint32_t>(state.range(0));
  const std::uint32_t stride = WideStride(k);
  const auto source = RandomBytes(std::size_t{k} * kSymbol, 11);
  std::vector<std::uint8_t> repair(std::size_t{stride} * kSymbol);
  std::vector<std::uint8_t*> out;
  for (std::uint32_t r = 0; r < stride; ++r) out.push_back(&repair[r * kSymbol]);
  const auto in = Pointers(source, static_cast<int>(k));
  WideEncoder encoder;
  for (auto _ : state) {
    encoder.EncodeCoset(k, kSymbol, in.data(), 1, stride, out.data());
    benchmark::DoNotOptimize(repair.data());
  }
  state.SetBytesProcessed(state.iterations() * stride * static_cast<std::int64_t>(kSymbol));
  state.SetLabel("bytes = repair symbols produced");
}
BENCHMARK(BM_WideEncodeCoset)->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);

// The wide code rebuilding a block that lost |loss| percent of its source symbols from as many
// repair symbols of the first coset (a window of 2K), in the decoder's default work memory,
// its transforms on one thread or two.
void BM_WideDecodeBlock(benchmark::State& state) {
  const auto k = static_cast<std::uint32_t>(state.range(0));
  const auto lost =
      std::max<std::uint32_t>(1, k * static_cast<std::uint32_t>(state.range(1)) / 100);
  const std::uint32_t stride = WideStride(k);
  const auto source = RandomBytes(std::size_t{k} * kSymbol, 12);
  std::vector<std::uint8_t> repair(std::size_t{stride} * kSymbol);
  std::vector<std::uint8_t*> out;
  for (std::uint32_t r = 0; r < stride; ++r) out.push_back(&repair[r * kSymbol]);
  WideEncoder().EncodeCoset(k, kSymbol, Pointers(source, static_cast<int>(k)).data(), 1, stride,
                            out.data());
  std::mt19937 rng(13);
  std::vector<std::uint16_t> sources(k);
  std::iota(sources.begin(), sources.end(), 0);
  std::shuffle(sources.begin(), sources.end(), rng);
  std::vector<std::uint16_t> repairs(stride);
  std::iota(repairs.begin(), repairs.end(), static_cast<std::uint16_t>(stride));
  std::shuffle(repairs.begin(), repairs.end(), rng);
  std::vector<std::uint16_t> ids(sources.begin() + lost, sources.end());
  ids.insert(ids.end(), repairs.begin(), repairs.begin() + lost);
  std::vector<const std::uint8_t*> symbols;
  for (std::uint16_t id : ids) {
    symbols.push_back(id < k ? &source[id * kSymbol] : &repair[(id - stride) * kSymbol]);
  }
  std::vector<std::uint8_t> work = source;
  std::vector<std::uint8_t> buffer(kSymbol);
  const auto threads = static_cast<int>(state.range(2));
  WideDecoder decoder(std::size_t{24} << 20, threads);
  for (auto _ : state) {
    if (!decoder.Plan(k, kSymbol, ids)) state.SkipWithError("too few symbols");
    for (int pass = 0; pass < decoder.Passes(); ++pass) {
      for (std::size_t i = 0; i < ids.size(); ++i) {
        if (decoder.Uses(i)) decoder.Put(i, symbols[i]);
      }
      decoder.Solve();
      for (std::uint32_t id : decoder.Missing()) {
        decoder.Get(id, buffer.data());
        std::copy(buffer.begin() + decoder.PassBegin(pass), buffer.begin() + decoder.PassEnd(pass),
                  work.begin() + id * kSymbol + decoder.PassBegin(pass));
      }
    }
    benchmark::DoNotOptimize(work.data());
  }
  if (work != source) state.SkipWithError("wrong result");
  state.SetBytesProcessed(state.iterations() * k * static_cast<std::int64_t>(kSymbol));
  // The window of 2K points, 64 bytes each, for each 64-byte column of a pass.
  const std::size_t passColumns = (decoder.PassEnd(0) - decoder.PassBegin(0) + 63) / 64;
  state.SetLabel("bytes = block rebuilt; " + std::to_string(decoder.Passes()) + " passes, work " +
                 std::to_string(2 * stride * passColumns * 64 >> 10) + " KiB, " +
                 std::to_string(threads) + (threads == 1 ? " thread" : " threads"));
}
BENCHMARK(BM_WideDecodeBlock)
    ->ArgNames({"k", "loss", "threads"})
    ->Args({1024, 5, 1})
    ->Args({1024, 20, 1})
    ->Args({16384, 5, 1})
    ->Args({16384, 20, 1})
    ->Args({16384, 5, 2})
    ->Args({16384, 20, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The receiver's whole path for a 32 MiB file (2 blocks of about 12000 symbols) at a loss rate,
// in the sender's interleaved order: source symbols written to their places and hashed, then
// repair symbols of the first coset standing in for the lost ones, each block rebuilt from
// disk as it completes, and the file's digest checked.
void BM_ReceiveFile(benchmark::State& state) {
  const int lossPercent = static_cast<int>(state.range(0));
  const std::size_t size = 32 << 20;
  const auto content = RandomBytes(size, 4);
  const FileLayout layout = *FileLayout::Make(size, kSymbol, kWideMaxSourceSymbols);
  std::vector<std::vector<std::uint8_t>> repair(layout.BlockCount());
  std::vector<std::vector<std::uint8_t>> padded(layout.BlockCount());
  WideEncoder encoder;
  for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
    const std::uint32_t kb = layout.SourceSymbols(b);
    padded[b].assign(std::size_t{kb} * kSymbol, 0);
    std::copy_n(&content[layout.Offset(b, 0)], layout.BlockBytes(b), padded[b].begin());
    repair[b].resize(std::size_t{kb} * kSymbol);
    std::vector<std::uint8_t*> out;
    for (std::uint32_t r = 0; r < kb; ++r) out.push_back(&repair[b][r * kSymbol]);
    encoder.EncodeCoset(kb, kSymbol, Pointers(padded[b], static_cast<int>(kb)).data(), 1, kb,
                        out.data());
  }
  const std::string folder = std::filesystem::temp_directory_path().string();
  DescriptorPacket descriptor;
  descriptor.fileId = 1;
  descriptor.fileSize = size;
  descriptor.symbolSize = kSymbol;
  descriptor.sourceSymbols = static_cast<std::uint16_t>(layout.K());
  descriptor.sha256 = DigestBytes(content, layout);
  descriptor.name = "bench-receive.bin";
  std::mt19937 rng(5);
  WideDecoder decoder;
  for (auto _ : state) {
    auto file = IncomingFile::Create(folder, descriptor, layout, 0, nullptr, &decoder).file;
    for (int turn = 0; turn < 2 && !file->Whole(); ++turn) {
      for (std::uint32_t j = 0; j < layout.K(); ++j) {
        for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
          const std::uint32_t kb = layout.SourceSymbols(b);
          if (j >= kb || static_cast<int>(rng() % 100) < lossPercent) continue;
          const std::uint16_t id =
              static_cast<std::uint16_t>(turn == 0 ? j : WideStride(kb) + j);
          const std::uint8_t* data = turn == 0 ? &padded[b][j * kSymbol] : &repair[b][j * kSymbol];
          file->Accept({1, b, id, {data, kSymbol}});
        }
      }
    }
    if (!file->Ready() || file->Finish() != 0) state.SkipWithError("file incomplete");
    std::filesystem::remove(std::filesystem::path(folder) / descriptor.name);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.SetLabel("bytes = file data received, rebuilt and checked");
}
BENCHMARK(BM_ReceiveFile)->Arg(0)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

DescriptorPacket SampleDescriptor() {
  DescriptorPacket descriptor;
  descriptor.fileId = 1;
  descriptor.fileSize = 128 << 20;
  descriptor.symbolSize = kSymbol;
  descriptor.sourceSymbols = 16384;
  descriptor.sha256.emplace();
  descriptor.name = "a file name of ordinary length.mp4";
  return descriptor;
}

void BM_SignDescriptor(benchmark::State& state) {
  const Ed25519Key key = std::move(*Ed25519Key::Generate());
  const DescriptorPacket descriptor = SampleDescriptor();
  std::vector<std::uint8_t> bytes;
  for (auto _ : state) {
    EncodeSignedDescriptor(descriptor, key, bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_SignDescriptor)->Unit(benchmark::kMicrosecond);

void BM_VerifyDescriptor(benchmark::State& state) {
  const Ed25519Key key = std::move(*Ed25519Key::Generate());
  std::vector<std::uint8_t> bytes;
  EncodeSignedDescriptor(SampleDescriptor(), key, bytes);
  const ParsedPacket parsed = ParsePacket(bytes);
  const auto& descriptor = std::get<DescriptorPacket>(parsed.packet);
  for (auto _ : state) {
    if (!VerifyDescriptor(bytes, descriptor, key.PublicKey())) state.SkipWithError("refused");
  }
}
BENCHMARK(BM_VerifyDescriptor)->Unit(benchmark::kMicrosecond);

}  // namespace
