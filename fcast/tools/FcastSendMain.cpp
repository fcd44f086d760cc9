// fcast-send: sends files to a multicast group with the Fcast engine, each file a given number
// of rounds, one after the other. Progress goes to standard error, one summary line per file
// to standard output:
//   SENT <name> <size> rounds=<n> seconds=<s> kbit/s=<payload rate> packets=<n>
// where seconds and the rate count from the first datagram (after the file's SHA-256).
// With --key, every descriptor is signed with that Ed25519 key; its public key (the text that
// fcast-recv --trust takes) and its fingerprint go to standard error first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/CommandLine.h"
#include "common/PublicKeyText.h"
#include "common/WinsockStartup.h"
#include "fcast/engine/CarouselSender.h"
#include "fcast/engine/Ed25519.h"

namespace {

using ondavox::fcast::CarouselSender;
using ondavox::fcast::Ed25519Key;
using ondavox::fcast::SenderOptions;
using ondavox::fcast::SenderStatistics;

}  // namespace

int main(int argc, char** argv) {
  SenderOptions options;
  long long rate = 0;
  long long rounds = 0;
  std::vector<std::string> files;
  std::string keyPath;
  const auto app = ondavox::MakeCommandLine(
      "Sends each FILE in turn to a multicast group with the Fcast engine.", "fcast-send");
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--group", options.group, "IPv4 multicast group to send to")
      ->type_name("<IPv4 multicast>")
      ->required();
  app->add_option("--port", options.port, "UDP port of the group")
      ->type_name("<n>")
      ->transform(ondavox::kDecimal)
      ->check(CLI::Range(1, 65535))
      ->required();
  app->add_option("--rate", rate, "kilobits (1000 bits) of UDP payload per second")
      ->type_name("<kbit/s>")
      ->transform(ondavox::kDecimal)
      ->check(CLI::Range(1LL, 100'000'000LL))
      ->required();
  app->add_option("--rounds", rounds, "times each file is sent")
      ->type_name("<n>")
      ->transform(ondavox::kDecimal)
      ->check(CLI::Range(1LL, 1000LL))
      ->required();
  app->add_option("--interface", options.interface,
                  "address of the sending interface (default: the system's choice)")
      ->type_name("<IPv4>");
  app->add_option("--ttl", options.ttl, "time-to-live of the datagrams")
      ->type_name("<n>")
      ->transform(ondavox::kDecimal)
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  app->add_option("--key", keyPath,
                  "PEM file of the Ed25519 private key that signs the descriptors, as openssl "
                  "genpkey -algorithm ed25519 writes it (default: unsigned)")
      ->type_name("<file>");
  app->add_option("FILE", files, "files to send")->type_name("")->required();
  if (const auto exit = ondavox::ParseCommandLine(*app, argc, argv)) return *exit;

  ondavox::WinsockStartup();
  options.rateBytesPerSecond = rate * 1000 / 8;
  options.plannedRounds = static_cast<int>(rounds);
  options.rounds = static_cast<int>(rounds);
  if (!keyPath.empty()) {
    ondavox::StatusOr<Ed25519Key> key = Ed25519Key::ReadPem(keyPath);
    if (!key.ok()) {
      std::fprintf(stderr, "fcast-send: %s\n", key.status().message().c_str());
      return 1;
    }
    const auto seed = key->Seed();
    options.signingSeed.assign(seed.begin(), seed.end());
    const auto publicKey = key->PublicKey();
    std::fprintf(stderr, "fcast-send: signing with %s (%s)\n",
                 ondavox::EncodePublicKey(publicKey).c_str(),
                 ondavox::KeyFingerprint(publicKey).c_str());
  }
  auto created = CarouselSender::Create(options);
  if (!created.ok()) {
    std::fprintf(stderr, "fcast-send: %s\n", created.status().message().c_str());
    return 1;
  }
  CarouselSender& sender = **created;
  int failures = 0;
  for (const std::string& path : files) {
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
                   name.c_str(), static_cast<long long>(s.rounds + 1), rounds,
                   static_cast<long long>(s.fileUnits), s.bytes * 8 / 1000.0 / seconds);
    }
    const SenderStatistics s = sender.Statistics();
    const double seconds = s.seconds;
    if (s.rounds < rounds) {
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
