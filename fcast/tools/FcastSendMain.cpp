// fcast-send: sends files to a multicast group with the Fcast engine, each file a given number
// of rounds, one after the other. Progress goes to standard error, one summary line per file
// to standard output:
//   SENT <name> <size> rounds=<n> seconds=<s> kbit/s=<payload rate> packets=<n>
// where seconds and the rate count from the first datagram (after the file's SHA-256).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/WinsockStartup.h"
#include "fcast/engine/CarouselSender.h"
#include "fcast/tools/ToolArguments.h"

namespace {

using ondavox::fcast::CarouselSender;
using ondavox::fcast::SenderOptions;
using ondavox::fcast::SenderStatistics;

constexpr char kUsage[] =
    "usage: fcast-send --group <IPv4 multicast> --port <n> --rate <kbit/s> --rounds <n>\n"
    "                  [--interface <IPv4>] [--ttl <n>] FILE...\n"
    "  --rate is in kilobits (1000 bits) of UDP payload per second.\n";

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "fcast-send: %s\n", error.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  auto arguments = ondavox::fcast::ToolArguments::Parse(
      argc, argv, {"group", "port", "rate", "rounds", "interface", "ttl"});
  if (!arguments.ok()) return Usage(arguments.status().message());
  const auto port = arguments->Number("port", 1, 65535);
  const auto rate = arguments->Number("rate", 1, 100'000'000);
  const auto rounds = arguments->Number("rounds", 1, 1000);
  const auto ttl = arguments->Has("ttl") ? arguments->Number("ttl", 0, 255) : std::optional(1LL);
  if (!arguments->Has("group") || !port || !rate || !rounds || !ttl) {
    return Usage("--group, --port, --rate and --rounds are required, as whole numbers in range");
  }
  if (arguments->Plain().empty()) return Usage("no file to send");

  ondavox::WinsockStartup();
  SenderOptions options;
  options.group = arguments->Text("group");
  options.port = static_cast<std::uint16_t>(*port);
  options.interface = arguments->Text("interface");
  options.ttl = static_cast<int>(*ttl);
  options.rateBytesPerSecond = *rate * 1000 / 8;
  options.plannedRounds = static_cast<int>(*rounds);
  options.rounds = static_cast<int>(*rounds);
  auto created = CarouselSender::Create(options);
  if (!created.ok()) {
    std::fprintf(stderr, "fcast-send: %s\n", created.status().message().c_str());
    return 1;
  }
  CarouselSender& sender = **created;
  int failures = 0;
  for (const std::string& path : arguments->Plain()) {
    const std::string name = std::filesystem::path(path).filename().string();
    if (const ondavox::Status sending = sender.SendFile(path); !sending.ok()) {
      std::fprintf(stderr, "fcast-send: %s\n", sending.message().c_str());
      ++failures;
      continue;
    }
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(path, sizeError);
    while (!sender.WaitFinished(std::chrono::seconds(1))) {
      const SenderStatistics s = sender.Statistics();
      const double seconds = std::max(s.seconds, 1e-3);
      std::fprintf(stderr, "%s: round %lld/%lld, %lld KiB of file sent, %.0f kbit/s\n",
                   name.c_str(), static_cast<long long>(s.rounds + 1), *rounds,
                   static_cast<long long>(s.fileUnits), s.bytes * 8 / 1000.0 / seconds);
    }
    const SenderStatistics s = sender.Statistics();
    const double seconds = s.seconds;
    if (s.rounds < *rounds) {
      std::fprintf(stderr, "fcast-send: %s: sending failed after %lld rounds\n", name.c_str(),
                   static_cast<long long>(s.rounds));
      ++failures;
      continue;
    }
    std::printf("SENT %s %llu rounds=%lld seconds=%.3f kbit/s=%.0f packets=%lld\n", name.c_str(),
                static_cast<unsigned long long>(size), static_cast<long long>(s.rounds), seconds,
                s.bytes * 8 / 1000.0 / seconds, static_cast<long long>(s.packets));
    std::fflush(stdout);
  }
  return failures == 0 ? 0 : 1;
}
