#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>

namespace ondavox {
namespace {

TEST(SharedLibrary, LoadsAndFindsExportsOrSaysWhyNot) {
  StatusOr<SharedLibrary> math = SharedLibrary::Open("libm.so.6");
  ASSERT_TRUE(math.ok()) << math.status().message();
  auto* cosine = reinterpret_cast<double (*)(double)>(math->Symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(math->Symbol("no_such_export"), nullptr);

  SharedLibrary moved = std::move(*math);
  EXPECT_NE(moved.Symbol("cos"), nullptr);

  const StatusOr<SharedLibrary> missing = SharedLibrary::Open("/nonexistent/libfcast.so");
  EXPECT_FALSE(missing.ok());
  const std::string& error = missing.status().message();
  EXPECT_NE(error.find("libfcast.so"), std::string::npos) << error;
}

}  // namespace
}  // namespace ondavox
