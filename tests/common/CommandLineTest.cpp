#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ondavox {
namespace {

// "--n |text|" parsed as a whole number through kDecimal; nothing on a usage error.
std::optional<long long> ParseNumber(const std::string& text) {
  long long value = 0;
  const auto app = MakeCommandLine("A test command line.", "test");
  app->add_option("--n", value)->transform(kDecimal)->check(CLI::Range(-100LL, 100LL));
  const char* argv[] = {"test", "--n", text.c_str()};
  if (ParseCommandLine(*app, 3, argv)) return std::nullopt;
  return value;
}

TEST(CommandLine, ReadsWholeNumbersInBaseTen) {
  EXPECT_EQ(ParseNumber("010"), 10);  // not octal
  EXPECT_EQ(ParseNumber("-007"), -7);
  EXPECT_EQ(ParseNumber("+00"), 0);
  EXPECT_EQ(ParseNumber("0"), 0);
  EXPECT_EQ(ParseNumber("99"), 99);
  EXPECT_EQ(ParseNumber("0x10"), std::nullopt);
  EXPECT_EQ(ParseNumber("12ab"), std::nullopt);
}

}  // namespace
}  // namespace ondavox
