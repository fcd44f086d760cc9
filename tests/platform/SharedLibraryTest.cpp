#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>

namespace ondavox {
namespace {

TEST(SharedLibrary, LoadsAndFindsExportsOrSaysWhyNot) {
  std::string error;
  std::optional<SharedLibrary> math = SharedLibrary::Open("libm.so.6", &error);
  ASSERT_TRUE(math) << error;
  auto* cosine = reinterpret_cast<double (*)(double)>(math->Symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(math->Symbol("no_such_export"), nullptr);

  SharedLibrary moved = std::move(*math);
  EXPECT_NE(moved.Symbol("cos"), nullptr);

  EXPECT_FALSE(SharedLibrary::Open("/nonexistent/libfcast.so", &error));
  EXPECT_NE(error.find("libfcast.so"), std::string::npos) << error;
}

}  // namespace
}  // namespace ondavox
