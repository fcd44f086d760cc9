// Arbitrary bytes as a document database file.
#include "server/data/CDocInfo.h"
#include "tests/server/data/FuzzDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return ondavox::test::FuzzDatabase<ondavox::server::CDocInfo>(data, size);
}
