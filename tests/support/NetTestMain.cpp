// Entry point of every test binary that opens sockets. It moves the process into a private
// network namespace of its own before any test runs (so test binaries can run in parallel on the
// same ports), and refuses to run at all when an interface other than the loopback is visible,
// so no test traffic can leave the machine.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/PrivateNetwork.h"

int main(int argc, char** argv) {
  if (auto error = ondavox::EnterPrivateNetwork()) {
    std::fprintf(stderr, "network tests refused: cannot enter a private network namespace: %s\n",
                 error->c_str());
    return 2;
  }
  if (!ondavox::OnlyLoopbackVisible()) {
    std::fprintf(stderr, "network tests refused: an interface other than lo is visible\n");
    return 2;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
