// Reading and splitting typical request lines from a connected socket pair, as a server
// connection thread does: lines per second with the buffered reader, and with one read call
// per byte for comparison.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/LineReader.h"
#include "common/MavoraProtocol.h"
#include "platform/Socket.h"

namespace {

using ondavox::LineReader;
using ondavox::MavoraProtocol;
using ondavox::Socket;

const char* const kLines[] = {
    "LOGIN\tannabelle\tsecret42\t192.168.10.23\t1550\n",
    "WHOIS\tbenedict\n",
    "FILEINFO\tholiday-2026-video.mp4\tannabelle\n",
    "REGISTER\tcharlotte\tpw\tCharlotte\tMartin\t192.168.10.24\t1550\n",
};

std::string Batch(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += kLines[i % 4];
  return bytes;
}

// Reads and splits the lines that a writer thread sends, |kLinesPerIteration| per iteration;
// |bytePerCall| makes every read call return one byte, as an unbuffered reader would.
void ReadAndSplit(benchmark::State& state, bool bytePerCall) {
  constexpr int kLinesPerIteration = 4096;
  const std::string batch = Batch(kLinesPerIteration);
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Socket reading(fds[0]);
  Socket writing(fds[1]);
  const int fd = reading.Fd();
  LineReader reader = bytePerCall ? LineReader([fd](char* buffer, std::size_t) -> long {
    return ::recv(fd, buffer, 1, 0);
  })
                                  : LineReader::ForSocket(fd);
  const MavoraProtocol protocol;
  std::size_t fields = 0;
  for (auto _ : state) {
    std::thread writer([&] { ondavox::SendAll(writing.Fd(), batch); });
    for (int i = 0; i < kLinesPerIteration; ++i) fields += protocol.extractParams(*reader.ReadLine()).size();
    writer.join();
  }
  benchmark::DoNotOptimize(fields);
  state.SetItemsProcessed(state.iterations() * kLinesPerIteration);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(batch.size()));
}

void BM_ReadAndSplitBuffered(benchmark::State& state) { ReadAndSplit(state, false); }
BENCHMARK(BM_ReadAndSplitBuffered)->UseRealTime();

void BM_ReadAndSplitBytePerCall(benchmark::State& state) { ReadAndSplit(state, true); }
BENCHMARK(BM_ReadAndSplitBytePerCall)->UseRealTime();

}  // namespace
