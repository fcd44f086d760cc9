// The client's two hot paths: taking a playlist announcement from the listener's socket to the
// rows of the playlist list (datagrams per second, for the largest playlist the server sends and
// for a full 64 KiB datagram), and appending log lines from several threads at once (lines per
// second in all).
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "client/core/ClientLog.h"
#include "client/core/MavoraProtocolClient.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace {

using ondavox::Socket;
using ondavox::client::ClientLog;
using ondavox::client::LogBox;
using ondavox::client::MavoraProtocolClient;
using ondavox::client::PlaylistRow;

class CountingHost final : public MavoraProtocolClient::Host {
 public:
  void ShowPlaylist(const std::vector<PlaylistRow>& rows) override { shown += rows.size(); }
  std::string DownloadDirectory() const override { return {}; }
  void StartFcast(const std::string&, int, const std::string&) override {}
  std::size_t shown = 0;
};

// A playlist announcement of at most |limit| bytes, line feed included.
std::string Playlist(std::size_t limit) {
  std::string announcement = "PLAYLIST";
  for (int i = 0;; ++i) {
    const std::string pair = "\tholiday-clip-" + std::to_string(i) + ".avi\tannabelle";
    if (announcement.size() + pair.size() + 1 > limit) break;
    announcement += pair;
  }
  return announcement + "\n";
}

void AnnouncementToRows(benchmark::State& state) {
  ondavox::SetTraceSink([](std::string_view) {});
  ondavox::SetDebugSink([](std::string_view) {});
  const std::string datagram = Playlist(static_cast<std::size_t>(state.range(0)));
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Socket reader(fds[0]), writer(fds[1]);
  CountingHost host;
  MavoraProtocolClient protocol(host);
  for (auto _ : state) {
    ::send(writer.Fd(), datagram.data(), datagram.size(), 0);
    const auto message = protocol.ReceiveMsgMULTICAST(reader.Fd());
    benchmark::DoNotOptimize(protocol.invoke(*message));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(datagram.size()));
  state.counters["rows"] =
      static_cast<double>(host.shown) / static_cast<double>(state.iterations());
  ondavox::SetTraceSink({});
  ondavox::SetDebugSink({});
}
BENCHMARK(AnnouncementToRows)->Arg(999)->Arg(MavoraProtocolClient::kMaxDatagram);

class NullBox final : public LogBox {
 public:
  void AppendLine(const std::string& line) override { benchmark::DoNotOptimize(line.data()); }
};

ClientLog& SharedLog() {
  static ClientLog* const log = [] {
    auto* made = new ClientLog;
    static NullBox box;
    made->SetLogBox(&box);
    return made;
  }();
  return *log;
}

void AppendLogContended(benchmark::State& state) {
  ClientLog& log = SharedLog();
  for (auto _ : state) log.Append("Playlist changed", "UDP");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AppendLogContended)->Threads(1)->Threads(4);

}  // namespace
