// ondavox-demo-setup FOLDER SERVER_ADDRESS: prepares the demo folder that scripts/run starts
// the server and the client in (see DemoFolder), the client set to meet the server at
// SERVER_ADDRESS. Exits 0 when the folder is ready, 1 with a message when it is not.
#include <cstdio>
#include <string>

#include "tools/demo/DemoFolder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER SERVER_ADDRESS\n", argv[0]);
    return 2;
  }
  const ondavox::DemoFolder folder(argv[1]);
  const ondavox::Status status = folder.Prepare(argv[2]);
  if (!status.ok()) {
    std::fprintf(stderr, "ondavox-demo-setup: %s\n", status.message().c_str());
    return 1;
  }
  std::printf("Demo folder ready: %s (server), %s (client)\n", folder.serverDirectory().c_str(),
              folder.clientDirectory().c_str());
  return 0;
}
