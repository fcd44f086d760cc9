// bench_server_idle: how the server fares while many connections sit idle without a login.
//
//   bench_server_idle [--max-unauthenticated M] [N...]   (default: 1000 10000)
//
// For each N it starts a server in a child process (databases in a temporary folder, default
// limits unless M is given), then measures a new client's REGISTER + WHOIS and the server's
// resident memory (VmRSS of /proc) before the idle connections are opened, while N are held, and
// after they have closed. It enters a private network namespace first and raises its own soft
// descriptor limit to the hard one (run it under `prlimit --nofile=...` for large N). Every wait is
// bounded; the whole run ends within two minutes per N.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/LineReader.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/PrivateNetwork.h"
#include "platform/Socket.h"
#include "platform/Trace.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kPort = 1550;
int32_t gMaxUnauthenticated = 0;  // the server's limit; 0 keeps its default

// Runs a server until the parent closes |control|; never returns.
[[noreturn]] void ServeUntilClosed(int control) {
  ondavox::SetTraceSink([](std::string_view) {});
  std::string pattern = (std::filesystem::temp_directory_path() / "ondavox-idle-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::_Exit(1);
  {
    ondavox::server::UserDatabase users(pattern + "/UserDB.dat");
    ondavox::server::DocumentDatabase documents(pattern + "/DocumentDB.dat");
    ondavox::server::ServerRunner runner(documents, users,
                                         [] { return std::shared_ptr<ondavox::FcastSender>(); });
    ondavox::server::ServerRunner::Settings settings;
    settings.tcpPort = kPort;
    settings.multicastPort = 2002;
    settings.maxUnauthenticated = gMaxUnauthenticated;
    runner.Start(settings);
    char byte;
    while (::read(control, &byte, 1) > 0) {
    }
    runner.Close();
  }
  std::filesystem::remove_all(pattern);
  std::_Exit(0);
}

ondavox::Socket Connect() {
  ondavox::Socket socket = ondavox::Socket::Tcp();
  const ondavox::Ipv4Endpoint server = ondavox::Ipv4Endpoint::Loopback(kPort);
  if (::connect(socket.Fd(), server.Get(), ondavox::Ipv4Endpoint::Size()) != 0) return {};
  return socket;
}

// Milliseconds for REGISTER + WHOIS of |login| on a new connection, or nothing when a reply
// did not come within 10 s.
std::optional<double> RegisterAndWhois(const std::string& login) {
  const auto start = Clock::now();
  ondavox::Socket socket = Connect();
  if (!socket.Valid()) return std::nullopt;
  timeval timeout{10, 0};
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ondavox::LineReader reader = ondavox::LineReader::ForSocket(socket.Fd());
  if (!ondavox::SendAll(socket.Fd(), "REGISTER\t" + login + "\tpw\tAnn\tSmith\t10.0.0.1\t1\n") ||
      reader.ReadLine() != std::string(ondavox::kRegistered)) {
    return std::nullopt;
  }
  if (!ondavox::SendAll(socket.Fd(), "WHOIS\t" + login + "\n") ||
      !reader.ReadLine().value_or("").starts_with("Login : ")) {
    return std::nullopt;
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int Threads(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

// Connections of |held| that the server has not closed.
int StillOpen(const std::vector<ondavox::Socket>& held) {
  int open = 0;
  for (const ondavox::Socket& socket : held) {
    pollfd ready{socket.Fd(), POLLIN, 0};
    open += ::poll(&ready, 1, 0) == 0 ? 1 : 0;
  }
  return open;
}

void Report(const char* phase, pid_t server, std::optional<double> ms) {
  std::printf("  %-8s RSS %7ld KiB, %5d threads, REGISTER+WHOIS %s\n", phase, RssKiB(server),
              Threads(server), ms ? (std::to_string(*ms).substr(0, 6) + " ms").c_str() : "failed");
}

bool RunOnce(int idle) {
  int control[2];
  if (::pipe(control) != 0) return false;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(control[1]);
    ServeUntilClosed(control[0]);
  }
  ::close(control[0]);
  std::printf("== %d idle connections\n", idle);
  for (int attempt = 0; attempt < 500 && !Connect().Valid(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Report("before", server, RegisterAndWhois("before" + std::to_string(idle)));

  std::vector<ondavox::Socket> held;
  const auto start = Clock::now();
  for (int i = 0; i < idle && Clock::now() - start < std::chrono::seconds(60); ++i) {
    ondavox::Socket socket = Connect();
    if (!socket.Valid()) break;
    held.push_back(std::move(socket));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::printf("  opened %zu in %.2f s; %d still open\n", held.size(),
              std::chrono::duration<double>(Clock::now() - start).count(), StillOpen(held));
  Report("during", server, RegisterAndWhois("during" + std::to_string(idle)));

  held.clear();
  // The listener prunes ended connections once a second and then trims the heap.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  Report("after", server, RegisterAndWhois("after" + std::to_string(idle)));

  ::close(control[1]);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(server, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (::waitpid(server, &status, WNOHANG) == 0) {
    ::kill(server, SIGKILL);
    ::waitpid(server, &status, 0);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (auto error = ondavox::EnterPrivateNetwork()) {
    std::fprintf(stderr, "benchmark refused: cannot enter a private network namespace: %s\n",
                 error->c_str());
    return 2;
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  ::alarm(150 * static_cast<unsigned>(std::max(1, argc - 1)));
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--max-unauthenticated" && i + 1 < argc) {
      gMaxUnauthenticated = std::atoi(argv[++i]);
    } else {
      counts.push_back(std::atoi(argv[i]));
    }
  }
  if (counts.empty()) counts = {1000, 10000};
  for (const int count : counts) {
    if (!RunOnce(count)) return 1;
  }
  return 0;
}
