// Speed of the erasure code on one core, in the units of the targets: repair symbols produced
// per second by the sender, and file data rebuilt per second by the receiver at a given loss
// (the codec alone, and the receiver's whole path: symbols into a temporary file, blocks
// rebuilt from disk as they complete, the SHA-256 following), and what a signed descriptor
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

#include "fcast/code/GroupCode.h"
#include "fcast/code/ReedSolomonCode.h"
#include "fcast/code/WideCode.h"
#include "fcast/engine/CarouselWindow.h"
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

// Repair symbols for one block: by default a round's worth, k fresh repair symbols (or what
// the id space holds); with a second argument, that many consecutive ones, as a sweep asks.
void BM_EncodeRepair(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const int rows =
      state.range(1) > 0 ? static_cast<int>(state.range(1)) : std::min(k, kMaxSymbolsPerBlock - k);
  const auto source = RandomBytes(k * kSymbol, 1);
  std::vector<std::uint8_t> repair(rows * kSymbol);
  std::vector<std::uint8_t*> out;
  for (int r = 0; r < rows; ++r) out.push_back(&repair[r * kSymbol]);
  std::vector<std::uint8_t> ids(rows);
  std::iota(ids.begin(), ids.end(), static_cast<std::uint8_t>(k));
  const auto in = Pointers(source, k);
  ReedSolomonCode code;
  for (auto _ : state) {
    code.Encode(k, kSymbol, in.data(), ids, out.data());
    benchmark::DoNotOptimize(repair.data());
  }
  state.SetBytesProcessed(state.iterations() * rows * static_cast<std::int64_t>(kSymbol));
  state.SetLabel("bytes = repair symbols produced");
}
BENCHMARK(BM_EncodeRepair)
    ->Args({32, 0})
    ->Args({51, 0})
    ->Args({85, 0})
    ->Args({127, 0})
    ->Args({128, 0})
    ->Args({127, 4})
    ->Args({127, 8})
    ->Args({127, 16})
    ->Args({127, 32});

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
// repair symbols of the first coset (a window of 2K), in the decoder's default work memory.
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
  WideDecoder decoder;
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
                 std::to_string(2 * stride * passColumns * 64 >> 10) + " KiB");
}
BENCHMARK(BM_WideDecodeBlock)
    ->Args({1024, 5})
    ->Args({1024, 20})
    ->Args({16384, 5})
    ->Args({16384, 20})
    ->Unit(benchmark::kMillisecond);

// The sender's own path for a repair round of a 64-block file: for each sweep of a few
// positions (the blocks' own), then of a few group symbols, window after window read again
// from the file (from the page cache) and the sweep's symbols computed for it.
void BM_SenderRepairRound(benchmark::State& state) {
  const auto k = static_cast<std::uint32_t>(state.range(0));
  const std::uint32_t blocks = 64;
  const std::uint32_t groupBlocks = 4;
  const std::size_t size = std::size_t{blocks} * k * kSymbol;
  const FileLayout layout = *FileLayout::Make(size, kSymbol, k, kMaxSymbolsPerBlock, groupBlocks);
  const std::string path = (std::filesystem::temp_directory_path() / "bench-sender.bin").string();
  {
    const auto content = RandomBytes(size, 6);
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  const int fd = ::open(path.c_str(), O_RDONLY);
  CarouselWindow window(
      layout, std::max<std::uint32_t>(
                  1, static_cast<std::uint32_t>(CarouselWindow::kWindowBytes / (k * kSymbol))));
  const std::uint32_t own = CarouselWindow::kOwnPositions;
  const std::uint32_t groupSymbols = CarouselWindow::GroupSymbols(groupBlocks, k);
  std::int64_t repairBytes = 0;
  for (auto _ : state) {
    for (std::uint32_t from = 0; from < own; from = CarouselWindow::SweepEnd(from, own)) {
      const std::uint32_t to = CarouselWindow::SweepEnd(from, own);
      for (std::uint32_t first = 0; first < blocks; first += window.Capacity()) {
        if (!window.Load(fd, first, 1, from, to)) state.SkipWithError("load failed");
        window.Encode(1, from, to);
      }
    }
    for (std::uint32_t from = 0; from < groupSymbols;
         from = CarouselWindow::GroupSweepEnd(from, groupSymbols)) {
      const std::uint32_t to = CarouselWindow::GroupSweepEnd(from, groupSymbols);
      for (std::uint32_t first = 0; first < layout.GroupCount(); first += window.GroupCapacity()) {
        if (!window.LoadGroups(fd, first)) state.SkipWithError("load failed");
        window.EncodeGroups(1, from, to);
      }
    }
    // Turn 1 of blocks of at most 127 symbols is all repair.
    repairBytes += std::int64_t{blocks} * k * kSymbol;
  }
  ::close(fd);
  std::remove(path.c_str());
  state.SetBytesProcessed(repairBytes);
  state.SetLabel("bytes = repair and group symbols produced");
}
BENCHMARK(BM_SenderRepairRound)->Arg(51)->Arg(85)->Arg(127)->Unit(benchmark::kMillisecond);

// Rebuilds a block that lost |loss| percent of its source symbols, from as many repair symbols.
void BM_DecodeBlock(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const int lost = std::max(1, static_cast<int>(k * state.range(1) / 100));
  const auto source = RandomBytes(k * kSymbol, 2);
  std::mt19937 rng(3);
  std::vector<std::uint8_t> order(k);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<std::uint8_t> missing(order.begin(), order.begin() + lost);
  std::sort(missing.begin(), missing.end());
  std::vector<std::uint8_t> ids(lost);
  std::iota(ids.begin(), ids.end(), static_cast<std::uint8_t>(k));
  std::vector<std::uint8_t> repair(lost * kSymbol);
  std::vector<std::uint8_t*> repairOut;
  for (int r = 0; r < lost; ++r) repairOut.push_back(&repair[r * kSymbol]);
  ReedSolomonCode code;
  code.Encode(k, kSymbol, Pointers(source, k).data(), ids, repairOut.data());
  const auto repairIn = Pointers(repair, lost);
  std::vector<std::uint8_t> work = source;
  std::vector<std::uint8_t*> blocks;
  for (int j = 0; j < k; ++j) blocks.push_back(&work[j * kSymbol]);
  for (auto _ : state) {
    if (!code.Decode(k, kSymbol, blocks.data(), missing, ids, repairIn.data())) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(work.data());
  }
  if (work != source) state.SkipWithError("wrong result");
  state.SetBytesProcessed(state.iterations() * k * static_cast<std::int64_t>(kSymbol));
  state.SetLabel("bytes = file data rebuilt");
}
BENCHMARK(BM_DecodeBlock)
    ->Args({51, 5})
    ->Args({51, 20})
    ->Args({85, 5})
    ->Args({85, 20})
    ->Args({127, 5})
    ->Args({127, 20});

// Rebuilds a group of 4 blocks that each lost |loss| percent of their source symbols and got
// their own repair symbols of a repair turn's first positions at that loss, from as many group
// symbols as make up the rest, combined as the sender does.
void BM_DecodeGroup(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const int loss = static_cast<int>(state.range(1));
  constexpr int kBlocks = 4;
  const int lost = std::max(1, k * loss / 100);
  const int own =
      std::min(lost, static_cast<int>(CarouselWindow::kOwnPositions) * (100 - loss) / 100);
  std::mt19937 rng(8);
  std::vector<std::vector<std::uint8_t>> source;
  std::vector<std::vector<std::uint8_t>> work;
  std::vector<std::vector<std::uint8_t*>> places;
  std::vector<std::vector<std::uint8_t>> missing(kBlocks);
  std::vector<std::vector<std::uint8_t>> ownIds(kBlocks);
  std::vector<std::vector<std::uint8_t>> ownData(kBlocks);
  std::vector<std::vector<const std::uint8_t*>> ownPointers(kBlocks);
  ReedSolomonCode code;
  for (int b = 0; b < kBlocks; ++b) {
    source.push_back(RandomBytes(k * kSymbol, 10 + b));
    work.push_back(source.back());
    places.emplace_back();
    for (int j = 0; j < k; ++j) places.back().push_back(&work.back()[j * kSymbol]);
    std::vector<std::uint8_t> order(k);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    missing[b].assign(order.begin(), order.begin() + lost);
    std::sort(missing[b].begin(), missing[b].end());
    ownIds[b].resize(own);
    std::iota(ownIds[b].begin(), ownIds[b].end(), static_cast<std::uint8_t>(k));
    ownData[b].resize(own * kSymbol);
    std::vector<std::uint8_t*> out;
    for (int r = 0; r < own; ++r) out.push_back(&ownData[b][r * kSymbol]);
    code.Encode(k, kSymbol, Pointers(source[b], k).data(), ownIds[b], out.data());
    ownPointers[b] = Pointers(ownData[b], own);
  }
  const int shortfall = kBlocks * (lost - own);
  const int positions = k - static_cast<int>(CarouselWindow::kOwnPositions);
  std::vector<GroupCoder::GroupSymbol> symbols;
  for (int s = 0; s < shortfall; ++s) {
    const int r = s % positions;
    symbols.push_back({static_cast<std::uint8_t>(k + CarouselWindow::kOwnPositions + r),
                       static_cast<std::uint8_t>((s / positions + r / 8) % kBlocks), nullptr});
  }
  std::vector<std::uint8_t> groupData(shortfall * kSymbol);
  std::vector<std::uint8_t*> groupOut;
  for (int r = 0; r < shortfall; ++r) groupOut.push_back(&groupData[r * kSymbol]);
  std::vector<std::vector<const std::uint8_t*>> sourcePointers;
  for (const auto& block : source) sourcePointers.push_back(Pointers(block, k));
  std::vector<const std::uint8_t* const*> blocks;
  for (const auto& p : sourcePointers) blocks.push_back(p.data());
  GroupCoder coder;
  coder.Encode(k, kSymbol, blocks, symbols, groupOut.data());
  for (int s = 0; s < shortfall; ++s) symbols[s].data = groupOut[s];
  std::vector<GroupCoder::Block> in;
  for (int b = 0; b < kBlocks; ++b) {
    in.push_back({places[b].data(), missing[b], ownIds[b], ownPointers[b].data()});
  }
  std::vector<std::size_t> useless;
  for (auto _ : state) {
    if (!coder.Solve(k, kSymbol, in, symbols, &useless)) state.SkipWithError("short of rank");
    benchmark::DoNotOptimize(work.data());
  }
  if (work != source) state.SkipWithError("wrong result");
  state.SetBytesProcessed(state.iterations() * kBlocks * k * static_cast<std::int64_t>(kSymbol));
  state.SetLabel("bytes = file data rebuilt");
}
BENCHMARK(BM_DecodeGroup)->Args({85, 20})->Args({127, 10})->Args({127, 20});

// The receiver's whole path for a 32 MiB file at a loss rate: source symbols written at their
// offsets, repair symbols held, each block read back and rebuilt from the temporary file.
void BM_ReceiveFile(benchmark::State& state) {
  const std::uint32_t k = static_cast<std::uint32_t>(state.range(0));
  const int lossPercent = static_cast<int>(state.range(1));
  const std::size_t size = 32 << 20;
  const auto content = RandomBytes(size, 4);
  const FileLayout layout = *FileLayout::Make(size, kSymbol, k, kMaxSymbolsPerBlock);
  // Every block's symbols as the carousel sends them: k source, then k repair.
  std::vector<std::vector<std::uint8_t>> repair(layout.BlockCount());
  ReedSolomonCode code;
  for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
    const std::uint32_t kb = layout.SourceSymbols(b);
    std::vector<std::uint8_t> padded(kb * kSymbol, 0);
    std::copy_n(&content[layout.Offset(b, 0)], layout.BlockBytes(b), padded.begin());
    const std::uint32_t rows = std::min(kb, kMaxSymbolsPerBlock - kb);
    repair[b].resize(rows * kSymbol);
    std::vector<std::uint8_t*> out;
    std::vector<std::uint8_t> ids(rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
      out.push_back(&repair[b][r * kSymbol]);
      ids[r] = static_cast<std::uint8_t>(kb + r);
    }
    code.Encode(static_cast<int>(kb), kSymbol, Pointers(padded, static_cast<int>(kb)).data(), ids,
                out.data());
  }
  std::vector<std::uint8_t> lastSymbol(kSymbol, 0);
  const std::string folder = std::filesystem::temp_directory_path().string();
  DescriptorPacket descriptor;
  descriptor.fileId = 1;
  descriptor.fileSize = size;
  descriptor.name = "bench-receive.bin";
  std::mt19937 rng(5);
  for (auto _ : state) {
    auto file = IncomingFile::Create(folder, descriptor, layout, 0).file;
    for (std::uint32_t b = 0; b < layout.BlockCount(); ++b) {
      const std::uint32_t kb = layout.SourceSymbols(b);
      for (std::uint32_t j = 0; j < kb; ++j) {
        if (static_cast<int>(rng() % 100) < lossPercent) continue;
        const std::uint8_t* data = &content[layout.Offset(b, j)];
        if (layout.Length(b, j) < kSymbol) {
          std::copy_n(data, layout.Length(b, j), lastSymbol.begin());
          data = lastSymbol.data();
        }
        file->Accept({1, b, static_cast<std::uint16_t>(j), {data, kSymbol}});
      }
      for (std::uint32_t r = 0; r * kSymbol < repair[b].size(); ++r) {
        if (static_cast<int>(rng() % 100) < lossPercent) continue;
        file->Accept(
            {1, b, static_cast<std::uint16_t>(kb + r), {&repair[b][r * kSymbol], kSymbol}});
      }
    }
    if (!file->Whole()) state.SkipWithError("file incomplete");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.SetLabel("bytes = file data received, rebuilt and hashed");
}
BENCHMARK(BM_ReceiveFile)
    ->Args({127, 5})
    ->Args({127, 20})
    ->Args({51, 20})
    ->Unit(benchmark::kMillisecond);

DescriptorPacket SampleDescriptor() {
  DescriptorPacket descriptor;
  descriptor.fileId = 1;
  descriptor.fileSize = 128 << 20;
  descriptor.symbolSize = kSymbol;
  descriptor.sourceSymbols = 127;
  descriptor.symbolIds = 255;
  descriptor.groupBlocks = 4;
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
