// fcast-recv: receives the files sent to a multicast group into a folder with the Fcast
// engine. One line per completed file on standard output, "COMPLETE <name> <size> <digest>"
// (the transfer's digest, a SHA-256 of its symbols' digests, in hexadecimal),
// and "ERROR <code> <text>" for a file refused or lost, for a descriptor that the --trust key
// did not sign (with the name it announced) and for an address other than the --source (with
// that address); progress, and the files kept with a "~" name, on standard error. Exits 0 once
// --files files have completed, 1 when --timeout seconds pass first.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/CommandLine.h"
#include "common/FcastComponent.h"
#include "common/PublicKeyText.h"
#include "common/WinsockStartup.h"
#include "fcast/engine/CarouselReceiver.h"
#include "fcast/engine/Sha256.h"
#include "platform/Mutex.h"

namespace {

using namespace ondavox;
using namespace ondavox::fcast;

const char* ErrorText(long code) {
  switch (code) {
    case kFcastErrorDiskSpace:
      return "file does not fit the free disk space";
    case kFcastErrorCreateFile:
      return "cannot create the file in the folder";
    case kFcastErrorWrite:
      return "write to the file failed";
    case kFcastErrorChecksum:
      return "SHA-256 of the rebuilt file does not match";
    case kFcastErrorRename:
      return "cannot give the file its name";
    case kFcastErrorAbandoned:
      return "file stopped arriving and made way for another";
    case kFcastErrorUnauthenticated:
      return "descriptor not signed by the trusted key, file refused";
    case kFcastErrorStraySource:
      return "datagrams from another address than the source, dropped";
    case kFcastErrorSocket:
      return "receiving socket failed";
    default:
      return "unknown error";
  }
}

// Prints the receiver's events and counts completed files.
class Printer {
 public:
  void OnEvent(const ReceiverEvent& event) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    switch (event.code) {
      case FCASTRE_FILE_START:
        std::fprintf(stderr, "receiving %s (%lld bytes)\n", event.name.c_str(),
                     static_cast<long long>(event.size));
        break;
      case FCASTRE_FILE_REPLACED:
        std::fprintf(stderr, "kept the previous %s as %s~\n", event.name.c_str(),
                     event.name.c_str());
        break;
      case FCASTRE_FILE_COMPLETE:
        std::printf("COMPLETE %s %lld %s\n", event.name.c_str(), static_cast<long long>(event.size),
                    ToHex(event.sha256).c_str());
        std::fflush(stdout);
        ++completed_;
        break;
      case FCASTRE_ERROR:
      case FCASTRE_FATAL_ERROR:
        std::printf("ERROR %ld %s%s%s\n", event.error, ErrorText(event.error),
                    event.name.empty() ? "" : ": ", event.name.c_str());
        std::fflush(stdout);
        fatal_ = fatal_ || event.code == FCASTRE_FATAL_ERROR;
        break;
      default:
        break;
    }
    changed_.NotifyAll();
  }

  // Waits until |files| have completed (never when 0) or a fatal error; false at |deadline|.
  bool WaitFor(long long files, std::chrono::steady_clock::time_point deadline) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    const auto done = [&]() REQUIRES(mu_) { return fatal_ || (files > 0 && completed_ >= files); };
    while (!done()) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return false;
      changed_.WaitFor(
          mu_, std::min<std::chrono::steady_clock::duration>(left, std::chrono::seconds(1)), done);
    }
    return !fatal_;
  }

 private:
  Mutex mu_;
  CondVar changed_;
  long long completed_ GUARDED_BY(mu_) = 0;
  bool fatal_ GUARDED_BY(mu_) = false;
};

}  // namespace

int main(int argc, char** argv) {
  ReceiverOptions options;
  long long files = 0;
  long long timeout = 100'000'000;
  long long stall = std::chrono::duration_cast<std::chrono::seconds>(options.stallTime).count();
  std::string trust;
  const auto app = MakeCommandLine(
      "Receives the files sent to a multicast group with the Fcast engine into a folder.",
      "fcast-recv");
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--group", options.group, "IPv4 multicast group to join")
      ->type_name("<IPv4 multicast>")
      ->required();
  app->add_option("--port", options.port, "UDP port of the group")
      ->type_name("<n>")
      ->transform(kDecimal)
      ->check(CLI::Range(1, 65535))
      ->required();
  app->add_option("--dir", options.folder, "folder the files go into, created when missing")
      ->type_name("<folder>")
      ->required();
  app->add_option("--interface", options.interface,
                  "address of the interface to join on (default: the system's choice)")
      ->type_name("<IPv4>");
  app->add_option("--files", files, "exit 0 once this many files have completed (default: none)")
      ->type_name("<n>")
      ->transform(kDecimal)
      ->check(CLI::Range(1LL, 1'000'000LL));
  app->add_option("--timeout", timeout, "exit 1 when this many seconds pass first (default: none)")
      ->type_name("<seconds>")
      ->transform(kDecimal)
      ->check(CLI::Range(1LL, 100'000'000LL));
  app->add_option("--stall", stall,
                  "seconds with next to nothing stored after which a file makes way for another")
      ->type_name("<seconds>")
      ->transform(kDecimal)
      ->check(CLI::Range(1LL, 3600LL))
      ->capture_default_str();
  app->add_option("--trust", trust,
                  "Ed25519 public key, in base64, that must sign every file's descriptor "
                  "(default: unsigned files are taken too)")
      ->type_name("<base64>")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return DecodePublicKey(text) ? std::string()
                                         : std::string("not the base64 of a 32-byte key");
          },
          "BASE64"));
  app->add_option("--source", options.source,
                  "the only address whose datagrams are read (default: any)")
      ->type_name("<IPv4>")
      ->check(CLI::ValidIPV4);
  if (const auto exit = ParseCommandLine(*app, argc, argv)) return *exit;
  if (!trust.empty()) {
    const std::vector<unsigned char> key = *DecodePublicKey(trust);
    options.trustedKey.assign(key.begin(), key.end());
  }

  WinsockStartup();
  options.stallTime = std::chrono::seconds(stall);
  Printer printer;
  auto created = CarouselReceiver::Create(
      options, [&printer](const ReceiverEvent& event) { printer.OnEvent(event); });
  if (!created.ok()) {
    std::fprintf(stderr, "fcast-recv: %s\n", created.status().message().c_str());
    return 1;
  }
  std::unique_ptr<CarouselReceiver> receiver = std::move(*created);
  receiver->Start();
  const bool done =
      printer.WaitFor(files, std::chrono::steady_clock::now() + std::chrono::seconds(timeout));
  const ReceiverStatistics statistics = receiver->Statistics();
  receiver.reset();
  std::fprintf(stderr, "%lld datagrams received, %lld rejected, %lld from other addresses\n",
               static_cast<long long>(statistics.datagrams),
               static_cast<long long>(statistics.rejected),
               static_cast<long long>(statistics.stray));
  return done ? 0 : 1;
}
