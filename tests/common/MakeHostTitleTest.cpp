#include "common/MakeHostTitle.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Trace.h"

namespace ondavox {
namespace {

class FakeResolver final : public HostResolver {
 public:
  std::optional<std::string> name;
  std::optional<std::string> address;
  std::string askedFor;

  std::optional<std::string> HostName() override { return name; }
  std::optional<std::string> FirstAddress(const std::string& hostName) override {
    askedFor = hostName;
    return address;
  }
};

class MakeHostTitleTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetDebugSink([this](std::string_view text) { debug_ += text; });
  }
  void TearDown() override { SetDebugSink(previous_); }

  std::string debug_;

 private:
  OutputSink previous_;
};

TEST_F(MakeHostTitleTest, BuildsPrefixNameAndFirstAddress) {
  FakeResolver resolver;
  resolver.name = "studio";
  resolver.address = "192.168.1.10";
  EXPECT_EQ(MakeHostTitle("ZENTALO Server - ", resolver), "ZENTALO Server - studio - 192.168.1.10");
  EXPECT_EQ(resolver.askedFor, "studio");
  EXPECT_EQ(debug_, "Hostname=<studio>\n");
}

TEST_F(MakeHostTitleTest, FailedLookUpsGiveNoTitle) {
  FakeResolver noName;
  EXPECT_EQ(MakeHostTitle("ZENTALO Client - ", noName), std::nullopt);
  EXPECT_EQ(debug_, "gethostname error\n");

  debug_.clear();
  FakeResolver noAddress;
  noAddress.name = "studio";
  EXPECT_EQ(MakeHostTitle("ZENTALO Client - ", noAddress), std::nullopt);
  EXPECT_EQ(debug_, "Hostname=<studio>\ngethostbyname error\n");
}

}  // namespace
}  // namespace ondavox
