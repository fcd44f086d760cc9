// Entry point of every micro-benchmark: sockets opened by a benchmark stay inside a private
// network namespace, as for the tests.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "platform/PrivateNetwork.h"

int main(int argc, char** argv) {
  if (auto error = ondavox::EnterPrivateNetwork()) {
    std::fprintf(stderr, "benchmark refused: cannot enter a private network namespace: %s\n",
                 error->c_str());
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
