#include "common/LenientInteger.h"

#include <gtest/gtest.h>

namespace ondavox {
namespace {

TEST(LenientInteger, TakesTheLeadingDigitsAndNothingElse) {
  EXPECT_EQ(LenientInteger("1550"), 1550);
  EXPECT_EQ(LenientInteger("12ab"), 12);
  EXPECT_EQ(LenientInteger("abc"), 0);
  EXPECT_EQ(LenientInteger(""), 0);
  EXPECT_EQ(LenientInteger(" 42"), 42);
  EXPECT_EQ(LenientInteger("-7x"), -7);
  EXPECT_EQ(LenientInteger("+8"), 8);
  EXPECT_EQ(LenientInteger("204\tX"), 204);
  EXPECT_EQ(LenientInteger("99999999999999999999"), 2147483647);
  EXPECT_EQ(LenientInteger("-99999999999999999999"), -2147483647 - 1);
}

}  // namespace
}  // namespace ondavox
