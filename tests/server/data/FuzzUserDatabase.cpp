// Arbitrary bytes as a user database file.
#include "server/data/CUserInfo.h"
#include "tests/server/data/FuzzDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return ondavox::test::FuzzDatabase<ondavox::server::CUserInfo>(data, size);
}
