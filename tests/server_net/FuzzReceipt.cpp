// Feeds arbitrary delivery receipts to the server's interpreter, from a connection that is
// logged in or not, against a ledger that holds one transfer, and checks that every reply is
// one of the receipt's codes and that only the file's true size and digest record a holder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/ReplyCodes.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"

namespace {

using namespace ondavox;
using namespace ondavox::server;

constexpr char kBytes[] = "the bytes of the file that was sent";

struct World {
  World() {
    char folder[] = "/tmp/fuzz-receipt-XXXXXX";
    path = std::string(::mkdtemp(folder)) + "/clip.avi";
    std::ofstream(path) << kBytes;
    runner.deliveries().TransferStarted(
        CDocInfo("clip.avi", "root", path, "unknown", 0, 1, "A clip"), sizeof kBytes - 1);
  }
  ~World() {
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  }
  std::string path;
  UserDatabase users{"/nonexistent/UserDB.dat"};
  DocumentDatabase documents{"/nonexistent/DocumentDB.dat"};
  ServerRunner runner{documents, users, [] { return nullptr; }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  if (size == 0) return 0;
  std::string login = data[0] % 2 == 0 ? "" : "ann";
  const std::string message =
      "RECEIVED\t" + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string reply = world.runner.protocol().invoke(message, login);
  if (reply != kReceiptRecorded && reply != kReceiptRefused && reply != kReceiptNotLoggedIn) {
    std::abort();
  }
  if (reply == kReceiptRecorded && login.empty()) std::abort();
  return 0;
}
