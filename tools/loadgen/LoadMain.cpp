// ondavox-load: a load generator for the server's TCP protocol.
//
//   ondavox-load [--host A.B.C.D] [--port N] [--connections N] [--requests N] [--seconds S]
//                [--threads N] [--prefix LOGIN] [--serve]
//
// With --serve it first starts a server in this process (databases in a temporary folder, one
// document "clip.avi" of "root") on the port. Run it inside a private network namespace
// (scripts/in-private-network): it only ever connects to the address given, loopback by default.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

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

int Usage() {
  std::fprintf(stderr,
               "usage: ondavox-load [--host A.B.C.D] [--port N] [--connections N] [--requests N]\n"
               "                    [--seconds S] [--threads N] [--prefix LOGIN] [--serve]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  LoadOptions options;
  options.address = htonl(INADDR_LOOPBACK);
  bool serve = false;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--serve") {
      serve = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (flag == "--host") {
      if (::inet_pton(AF_INET, value, &options.address) != 1) return Usage();
    } else if (flag == "--port") {
      options.port = static_cast<uint16_t>(std::atoi(value));
    } else if (flag == "--connections") {
      options.connections = std::max(1, std::atoi(value));
    } else if (flag == "--requests") {
      options.requests = std::strtoull(value, nullptr, 10);
    } else if (flag == "--seconds") {
      options.seconds = std::atof(value);
    } else if (flag == "--threads") {
      options.threads = std::max(1, std::atoi(value));
    } else if (flag == "--prefix") {
      options.loginPrefix = value;
    } else {
      return Usage();
    }
  }
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
