#include <gtest/gtest.h>

#include "server/data/ServerEvent.h"

namespace ondavox::server {
namespace {

TEST(ServerEvent, NamesAndParameters) {
  const char* const kNames[] = {"USER_NEW", "USER_DEL", "USER_ONLINE", "USER_OFFLINE",
                                "DOC_NEW",  "DOC_DEL",  "DOC_START",   "DOC_STOP"};
  for (int32_t code = USER_NEW; code <= DOC_STOP; ++code) {
    EXPECT_EQ(ServerEvent(code).GetName(), kNames[code - 1]);
  }
  for (int32_t code : {0, 9, 13, 70, 71, -1}) EXPECT_EQ(ServerEvent(code).GetName(), "ERROR");

  const ServerEvent event(USER_OFFLINE, {"bob"});
  EXPECT_EQ(event.GetName(), "USER_OFFLINE");
  EXPECT_EQ(event.GetType(), 4);
  EXPECT_EQ(event.GetParamCount(), 1);
  EXPECT_EQ(event.GetParam(0), "bob");
  EXPECT_EQ(event.GetParam(1), "");
  EXPECT_EQ(event.GetParam(-1), "");
  EXPECT_EQ(ServerEvent(PLAYLIST_UPDATED).GetParamCount(), 0);
}

}  // namespace
}  // namespace ondavox::server
