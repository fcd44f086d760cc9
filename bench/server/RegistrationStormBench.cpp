// bench_server_registrations: a storm of REGISTERs against a server that already holds many
// users, while other connections send WHOIS. Prints the registrations answered per second and
// the WHOIS latencies (p50, p99, max). The server runs in this process on the loopback, its
// databases in a temporary folder under --folder (the current directory by default, so that the
// saves reach a real disk). Run it inside a private network namespace
// (scripts/in-private-network); it is bounded by --registrations and --seconds.
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/CommandLine.h"
#include "common/LineReader.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Socket.h"
#include "platform/Trace.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  uint16_t port = 1550;
  int users = 60000;         // users in the database before the storm
  int registrars = 50;       // connections that register
  int whoisConnections = 4;  // connections that send WHOIS meanwhile
  double whoisRate = 0;      // WHOIS per second on each of them; 0: one right after another
  int registrations = 5000;  // REGISTERs in all
  double seconds = 60;       // the storm stops after this, whatever is left
  std::string folder = ".";
};

std::string UserLogin(int i) { return "old" + std::to_string(i); }

ondavox::Socket Connect(uint16_t port) {
  ondavox::Socket socket = ondavox::Socket::Tcp();
  const ondavox::Ipv4Endpoint server = ondavox::Ipv4Endpoint::Loopback(port);
  if (::connect(socket.Fd(), server.Get(), ondavox::Ipv4Endpoint::Size()) != 0) return {};
  timeval timeout{30, 0};
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return socket;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
}

int Run(const Options& options) {
  ondavox::SetTraceSink([](std::string_view) {});
  std::string pattern =
      (std::filesystem::absolute(options.folder) / "ondavox-storm-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  ondavox::server::UserDatabase users(pattern + "/UserDB.dat");
  ondavox::server::DocumentDatabase documents(pattern + "/DocumentDB.dat");
  for (int i = 0; i < options.users; ++i) {
    auto user = std::make_unique<ondavox::server::CUserInfo>(UserLogin(i), "pw", "Ann", "Smith", 0,
                                                             0, "10.0.0.1", 4000);
    users.Add(user);
  }
  if (!users.Save().ok()) {
    std::fprintf(stderr, "cannot write the user database in %s\n", pattern.c_str());
    return 1;
  }
  const auto fileSize = std::filesystem::file_size(pattern + "/UserDB.dat");
  std::printf("users before: %zu (file %ju bytes)\n", users.GetCount(),
              static_cast<uintmax_t>(fileSize));

  {
    // What the saver holds the data lock for: the snapshot of every user.
    std::vector<double> encodes;
    for (int i = 0; i < 5; ++i) {
      const auto begin = Clock::now();
      const std::string bytes = users.Encode(fileSize + 4096);
      encodes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    std::sort(encodes.begin(), encodes.end());
    std::printf("snapshot of the users: %.2f ms (median of 5)\n", encodes[2]);
  }

  ondavox::server::ServerRunner runner(documents, users,
                                       [] { return std::shared_ptr<ondavox::FcastSender>(); });
  ondavox::server::ServerRunner::Settings settings;
  settings.tcpPort = options.port;
  settings.multicastPort = 2002;
  runner.Start(settings);

  std::atomic<int> next{0};
  std::atomic<int> registered{0};
  std::atomic<int> refused{0};
  std::atomic<int> failed{0};  // connections lost or replies that never came
  std::atomic<bool> stormOver{false};
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(options.seconds));

  std::vector<std::thread> registrars;
  for (int c = 0; c < options.registrars; ++c) {
    registrars.emplace_back([&] {
      ondavox::Socket socket = Connect(options.port);
      if (!socket.Valid()) {
        ++failed;
        return;
      }
      ondavox::LineReader reader = ondavox::LineReader::ForSocket(socket.Fd());
      for (int i; (i = next++) < options.registrations && Clock::now() < deadline;) {
        const std::string request =
            "REGISTER\tnew" + std::to_string(i) + "\tpw\tAnn\tSmith\t10.0.0.2\t4000\n";
        if (!ondavox::SendAll(socket.Fd(), request)) {
          ++failed;
          return;
        }
        const std::optional<std::string> reply = reader.ReadLine();
        if (!reply) {
          ++failed;
          return;
        }
        ++(*reply == ondavox::kRegistered ? registered : refused);
      }
    });
  }

  std::mutex latenciesMu;
  std::vector<double> latencies;  // milliseconds
  std::vector<std::thread> askers;
  for (int c = 0; c < options.whoisConnections; ++c) {
    askers.emplace_back([&, c] {
      ondavox::Socket socket = Connect(options.port);
      if (!socket.Valid()) return;
      ondavox::LineReader reader = ondavox::LineReader::ForSocket(socket.Fd());
      std::vector<double> mine;
      unsigned seed = 12345u + static_cast<unsigned>(c);
      const auto interval = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(options.whoisRate > 0 ? 1 / options.whoisRate : 0));
      auto due = Clock::now();
      while (!stormOver.load()) {
        if (options.whoisRate > 0) {
          std::this_thread::sleep_until(due);
          due += interval;
        }
        seed = seed * 1103515245u + 12345u;
        const int who = static_cast<int>((seed >> 8) % static_cast<unsigned>(options.users));
        // Paced requests count from when they were due, so a stalled server shows in full.
        const auto sent = options.whoisRate > 0 ? due - interval : Clock::now();
        if (!ondavox::SendAll(socket.Fd(), "WHOIS\t" + UserLogin(who) + "\n")) break;
        const std::optional<std::string> reply = reader.ReadLine();
        if (!reply || !reply->starts_with("Login : ")) break;
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
      }
      const std::lock_guard lock(latenciesMu);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  }

  for (std::thread& thread : registrars) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  stormOver = true;
  for (std::thread& thread : askers) thread.join();
  const uint64_t saves = runner.userSaver().SaveCount();
  runner.Close();

  std::sort(latencies.begin(), latencies.end());
  std::printf("registrations: %d answered 204, %d refused, %d failed, in %.2f s\n",
              registered.load(), refused.load(), failed.load(), elapsed);
  std::printf("registrations/s: %.0f (%ju saves of the user database)\n",
              registered.load() / elapsed, static_cast<uintmax_t>(saves));
  std::printf("whois: %zu replies, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", latencies.size(),
              Percentile(latencies, 0.50), Percentile(latencies, 0.99),
              latencies.empty() ? 0.0 : latencies.back());

  ondavox::server::UserDatabase stored(pattern + "/UserDB.dat");
  const bool loaded = stored.Load().ok();
  std::printf("users on disk after: %zu%s\n", stored.GetCount(), loaded ? "" : " (load failed)");
  std::filesystem::remove_all(pattern);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const auto app = ondavox::MakeCommandLine(
      "Registers users on many connections of a server that already holds many users, while\n"
      "other connections send WHOIS; prints registrations/s and the WHOIS latencies.",
      "bench_server_registrations");
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--port", options.port, "TCP port of the server")->capture_default_str();
  app->add_option("--users", options.users, "users before the storm")->capture_default_str();
  app->add_option("--registrars", options.registrars, "connections that register")
      ->capture_default_str();
  app->add_option("--whois", options.whoisConnections, "connections that send WHOIS")
      ->capture_default_str();
  app->add_option("--whois-rate", options.whoisRate,
                  "WHOIS per second on each WHOIS connection (0: as fast as replies come)")
      ->capture_default_str();
  app->add_option("--registrations", options.registrations, "REGISTERs in all")
      ->capture_default_str();
  app->add_option("--seconds", options.seconds, "the storm stops after this")
      ->capture_default_str();
  app->add_option("--folder", options.folder, "where the databases go")->capture_default_str();
  if (const auto exit = ondavox::ParseCommandLine(*app, argc, argv)) return *exit;
  if (options.users < 1 || options.registrars < 1 || options.whoisConnections < 0) return 2;
  return Run(options);
}
