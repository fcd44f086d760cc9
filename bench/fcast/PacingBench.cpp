// Pacing accuracy of the sender: one round of a file sized for about two seconds at each rate,
// sent over the loopback of the benchmark's private network; the achieved UDP payload rate
// over the configured one (1.00 is exact).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fcast/engine/CarouselSender.h"

namespace {

using namespace ondavox::fcast;

void BM_Pacing(benchmark::State& state) {
  const std::int64_t rate = state.range(0) * 1000 / 8;  // kbit/s to bytes/s
  const std::string path = (std::filesystem::temp_directory_path() / "bench-pacing.bin").string();
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  // Payload bytes are about 1424/1400 of the file's; size the file for two seconds.
  if (fd < 0 || ::ftruncate(fd, rate * 2 * 1400 / 1424) != 0) state.SkipWithError("no file");
  ::close(fd);
  SenderOptions options;
  options.group = "230.0.0.2";
  options.port = 1799;
  options.rateBytesPerSecond = rate;
  options.rounds = 1;
  auto created = CarouselSender::Create(options);
  if (!created.ok()) state.SkipWithError(created.status().message().c_str());
  const std::unique_ptr<CarouselSender> sender = created.ok() ? std::move(*created) : nullptr;
  double ratio = 0;
  for (auto _ : state) {
    if (!sender || !sender->SendFile(path).ok() ||
        !sender->WaitFinished(std::chrono::seconds(30))) {
      state.SkipWithError("send failed");
      break;
    }
    const SenderStatistics s = sender->Statistics();
    ratio = static_cast<double>(s.bytes) / s.seconds / static_cast<double>(rate);
    state.SetIterationTime(s.seconds);
  }
  std::filesystem::remove(path);
  state.counters["achieved/configured"] = ratio;
}
BENCHMARK(BM_Pacing)
    ->Arg(400)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
