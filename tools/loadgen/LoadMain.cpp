// ondavox-load: a load generator for the server's TCP protocol (options: ondavox-load --help).
// With --serve it first starts a server in this process (databases in a temporary folder, one
// document "clip.avi" of "root") on the port. Run it inside a private network namespace
// (scripts/in-private-network): it only ever connects to the address given, loopback by default.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "common/CommandLine.h"
#include "platform/Trace.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"
#include "tools/loadgen/LoadRun.h"

namespace {

using ondavox::load::LoadOptions;
using ondavox::load::LoadResult;

// A server of the load run's own, traces silenced.
class InProcessServer {
 public:
  explicit InProcessServer(uint16_t port)
      : folder_(MakeFolder()),
        users_((folder_ / "UserDB.dat").string()),
        documents_((folder_ / "DocumentDB.dat").string()),
        runner_(documents_, users_, [] { return std::shared_ptr<ondavox::FcastSender>(); }) {
    auto document = std::make_unique<ondavox::server::CDocInfo>(
        "clip.avi", "root", "/srv/clip.avi", "video/avi", 1, 0, "Load test clip");
    documents_.Add(document);
    ondavox::server::ServerRunner::Settings settings;
    settings.tcpPort = port;
    runner_.Start(settings);
  }
  ~InProcessServer() {
    runner_.Close();
    std::filesystem::remove_all(folder_);
  }

 private:
  static std::filesystem::path MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ondavox-load-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }

  std::filesystem::path folder_;
  ondavox::server::UserDatabase users_;
  ondavox::server::DocumentDatabase documents_;
  ondavox::server::ServerRunner runner_;
};

double Percentile(const std::vector<uint64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  const std::size_t index = std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()));
  return static_cast<double>(sorted[index]) / 1000.0;
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// The empty string when |text| is a dotted IPv4 address, else why not.
std::string CheckIpv4(const std::string& text) {
  in_addr address{};
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1 ? "" : "not an IPv4 address: " + text;
}

}  // namespace

int main(int argc, char** argv) {
  LoadOptions options;
  std::string host = "127.0.0.1";
  bool serve = false;
  const auto app = ondavox::MakeCommandLine(
      "Loads an Ondavox server: registers a user on each connection, then runs a WHOIS and\n"
      "FILEINFO mix, checks every reply and prints the throughput and latencies.",
      "ondavox-load");
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--host", host, "address of the server")
      ->type_name("A.B.C.D")
      ->check(CLI::Validator(CheckIpv4, "", "IPv4"))
      ->capture_default_str();
  app->add_option("--port", options.port, "TCP port of the server")
      ->type_name("N")
      ->transform(ondavox::kDecimal)
      ->capture_default_str();
  app->add_option("--connections", options.connections, "connections, one user each (at least 1)")
      ->type_name("N")
      ->transform(ondavox::kDecimal)
      ->capture_default_str();
  app->add_option("--requests", options.requests, "WHOIS and FILEINFO requests in all")
      ->type_name("N")
      ->transform(ondavox::kDecimal)
      ->capture_default_str();
  app->add_option("--seconds", options.seconds, "the run stops after this, whatever is left")
      ->type_name("S")
      ->capture_default_str();
  app->add_option("--threads", options.threads, "threads that send the requests (at least 1)")
      ->type_name("N")
      ->transform(ondavox::kDecimal)
      ->capture_default_str();
  app->add_option("--prefix", options.loginPrefix, "logins are this and a number")
      ->type_name("LOGIN")
      ->capture_default_str();
  app->add_flag("--serve", serve,
                "first start a server of its own on the port (document clip.avi of root)");
  if (const auto exit = ondavox::ParseCommandLine(*app, argc, argv)) return *exit;
  ::inet_pton(AF_INET, host.c_str(), &options.address);
  options.connections = std::max(1, options.connections);
  options.threads = std::max(1, options.threads);
  options.threads = std::min(options.threads, options.connections);
  RaiseDescriptorLimit();

  std::unique_ptr<InProcessServer> server;
  if (serve) {
    ondavox::SetTraceSink([](std::string_view) {});
    server = std::make_unique<InProcessServer>(options.port);
  }
  const LoadResult result = ondavox::load::RunLoad(options);
  server.reset();

  std::printf("connections: %d asked, %d registered, %d failed, %d held to the end\n",
              options.connections, result.connected, result.failedToConnect, result.held);
  std::printf("requests: %llu answered, %llu mismatched, %llu lost, in %.2f s\n",
              static_cast<unsigned long long>(result.requests),
              static_cast<unsigned long long>(result.mismatched),
              static_cast<unsigned long long>(result.lost), result.seconds);
  std::printf("throughput: %.0f requests/s\n",
              result.seconds > 0 ? static_cast<double>(result.requests) / result.seconds : 0.0);
  std::printf("latency: p50 %.1f us, p99 %.1f us, p99.9 %.1f us\n",
              Percentile(result.latenciesNs, 0.50), Percentile(result.latenciesNs, 0.99),
              Percentile(result.latenciesNs, 0.999));
  const bool clean = result.mismatched == 0 && result.lost == 0 && result.held == options.connections;
  return clean ? 0 : 1;
}
