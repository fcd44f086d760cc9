// fcast-recv: receives the files sent to a multicast group into a folder with the Fcast
// engine. One line per completed file on standard output, "COMPLETE <name> <size> <sha256>",
// and "ERROR <code> <text>" for a file refused or lost; progress on standard error. Exits 0
// once --files files have completed, 1 when --timeout seconds pass first.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/FcastComponent.h"
#include "common/WinsockStartup.h"
#include "fcast/engine/CarouselReceiver.h"
#include "fcast/engine/Sha256.h"
#include "fcast/tools/ToolArguments.h"
#include "platform/Mutex.h"

namespace {

using namespace ondavox;
using namespace ondavox::fcast;

constexpr char kUsage[] =
    "usage: fcast-recv --group <IPv4 multicast> --port <n> --dir <folder>\n"
    "                  [--interface <IPv4>] [--files <n>] [--timeout <seconds>]\n";

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "fcast-recv: %s\n", error.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

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
  auto arguments =
      ToolArguments::Parse(argc, argv, {"group", "port", "dir", "interface", "files", "timeout"});
  if (!arguments.ok()) return Usage(arguments.status().message());
  const auto port = arguments->Number("port", 1, 65535);
  const auto files =
      arguments->Has("files") ? arguments->Number("files", 1, 1'000'000) : std::optional(0LL);
  const auto timeout = arguments->Has("timeout") ? arguments->Number("timeout", 1, 100'000'000)
                                                 : std::optional(100'000'000LL);
  if (!arguments->Has("group") || !port || !arguments->Has("dir") || !files || !timeout) {
    return Usage("--group, --port and --dir are required; numbers must be whole and in range");
  }
  if (!arguments->Plain().empty()) return Usage("unexpected argument " + arguments->Plain()[0]);

  WinsockStartup();
  ReceiverOptions options;
  options.group = arguments->Text("group");
  options.port = static_cast<std::uint16_t>(*port);
  options.folder = arguments->Text("dir");
  options.interface = arguments->Text("interface");
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
      printer.WaitFor(*files, std::chrono::steady_clock::now() + std::chrono::seconds(*timeout));
  const ReceiverStatistics statistics = receiver->Statistics();
  receiver.reset();
  std::fprintf(stderr, "%lld datagrams received, %lld rejected\n",
               static_cast<long long>(statistics.datagrams),
               static_cast<long long>(statistics.rejected));
  return done ? 0 : 1;
}
