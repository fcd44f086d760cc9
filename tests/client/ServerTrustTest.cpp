// The client's trust in its server: the key pinned on first use and checked afterwards, the
// addresses announcements are taken from, and the receiver events that report refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "client/core/ServerKeyTrust.h"
#include "client/core/ServerSource.h"
#include "client/core/SinkFcastRcvEvent.h"
#include "common/PublicKeyText.h"
#include "common/ReplyCodes.h"
#include "tests/client/ClientTestSupport.h"

namespace ondavox::client {
namespace {

using test::FakeReceiverObject;
using test::RecordingLogBox;

std::vector<unsigned char> Key(unsigned char fill) {
  return std::vector<unsigned char>(kPublicKeySize, fill);
}
std::string KeyReply(const std::vector<unsigned char>& key) {
  return std::string(kServerKey) + "\t" + EncodePublicKey(key);
}
in_addr_t Address(const char* text) { return ::inet_addr(text); }
constexpr char kUntilCleared[] = ": files will be refused until serverKey is cleared in client.ini";

// A trust over the fake receiver object, with its writes to client.ini and its alerts recorded.
class ServerKeyTrustTest : public testing::Test {
 protected:
  void Load(const std::string& pinned) {
    trust_.Load(pinned, [this](const std::string& text) {
      stored_.push_back(text);
      return true;
    });
    trust_.SetAlert([this](const std::string& text) { alerts_.push_back(text); });
  }

  RecordingLogBox log_;
  std::shared_ptr<FakeReceiverObject> object_ = std::make_shared<FakeReceiverObject>();
  ServerKeyTrust trust_{object_};
  std::vector<std::string> stored_;
  std::vector<std::string> alerts_;
};

TEST_F(ServerKeyTrustTest, FirstWellFormedKeyIsPinnedStoredAndGivenToTheReceiver) {
  Load("");
  trust_.TakeKeyReply(std::string(kServerKey) + "\tAAAA");  // too short: not pinned
  trust_.TakeKeyReply(KeyReply(Key(1)));
  trust_.TakeKeyReply(KeyReply(Key(1)));  // the same key again changes nothing
  EXPECT_EQ(stored_, std::vector<std::string>{EncodePublicKey(Key(1))});
  EXPECT_EQ(object_->Calls(), std::vector<std::string>{"SetTrustedKey " + EncodePublicKey(Key(1))});
  EXPECT_EQ(trust_.PinnedFingerprint(), KeyFingerprint(Key(1)));
  EXPECT_EQ(log_.Count("[KEY] Pinned the server's key " + KeyFingerprint(Key(1))), 1);
  EXPECT_EQ(alerts_.size(), 1u) << "only the malformed key";
}

TEST_F(ServerKeyTrustTest, AnotherOrMalformedKeyIsRefusedLoudlyAndNeverStored) {
  Load(EncodePublicKey(Key(1)));
  EXPECT_EQ(object_->Calls().size(), 1u) << "the pinned key reaches the receiver at once";
  trust_.TakeKeyReply(KeyReply(Key(2)));
  trust_.TakeKeyReply(std::string(kServerKey) + "\tnot base64!");
  const std::string pinned = " is not the pinned key " + KeyFingerprint(Key(1)) + kUntilCleared;
  EXPECT_EQ(log_.Bodies(),
            (std::vector<std::string>{"[KEY] The server's key " + KeyFingerprint(Key(2)) + pinned,
                                      "[KEY] The server's malformed key" + pinned}));
  EXPECT_EQ(alerts_.size(), 2u);
  EXPECT_TRUE(stored_.empty());
  EXPECT_EQ(object_->Calls().size(), 1u) << "the receiver keeps the pinned key";
}

TEST_F(ServerKeyTrustTest, ServerWithoutKeyIsLoggedAndRefusedOnlyWhenAKeyIsPinned) {
  Load("");
  trust_.TakeKeyReply(kUnknownCommand);
  trust_.TakeKeyReply("201");  // not an answer to KEY: nothing
  EXPECT_EQ(log_.Bodies(),
            std::vector<std::string>{"[KEY] The server has no key: files are not authenticated"});
  EXPECT_TRUE(alerts_.empty());
  Load(EncodePublicKey(Key(1)));
  trust_.TakeKeyReply(kUnknownCommand);
  EXPECT_EQ(log_.Count("[KEY] The server has no key, but the pinned key " + KeyFingerprint(Key(1)) +
                       " is pinned" + kUntilCleared),
            1);
  EXPECT_EQ(alerts_.size(), 1u);
}

TEST_F(ServerKeyTrustTest, PinnedTextThatIsNoKeyRefusesEveryFile) {
  Load("garbage");
  EXPECT_TRUE(trust_.FilesRefused());
  trust_.TakeKeyReply(KeyReply(Key(1)));
  EXPECT_TRUE(stored_.empty()) << "a damaged pin is not replaced silently";
  EXPECT_EQ(alerts_.size(), 1u);
  Load("");
  EXPECT_FALSE(trust_.FilesRefused());
}

TEST(ServerSourceTest, RemoteServerIsTheOnlySourceAndStraysAreLoggedOncePerAddress) {
  RecordingLogBox log;
  ServerSource source("10.1.2.3", {Address("10.9.9.9")});
  EXPECT_EQ(source.receiverSource(), "10.1.2.3");
  EXPECT_TRUE(source.Admit(Address("10.1.2.3")));
  EXPECT_FALSE(source.Admit(Address("10.9.9.9"))) << "this host is not the server";
  EXPECT_FALSE(source.Admit(Address("0.0.0.0")));
  EXPECT_FALSE(source.Admit(Address("10.9.9.9")));
  EXPECT_FALSE(source.Admit(Address("10.1.2.4")));
  EXPECT_EQ(log.Bodies(), (std::vector<std::string>{
                              "[UDP] Announcements from 10.9.9.9 dropped: not the server",
                              "[UDP] Announcements from 0.0.0.0 dropped: not the server",
                              "[UDP] Announcements from 10.1.2.4 dropped: not the server"}));

  for (unsigned k = 0; k < 2 * ServerSource::kMaxLoggedStrays; ++k) {
    EXPECT_FALSE(source.Admit(htonl(0x0b000000 + k)));
  }
  EXPECT_EQ(log.Lines().size(), ServerSource::kMaxLoggedStrays);
}

TEST(ServerSourceTest, ServerOnThisHostIsHeardFromAnyHostAddressAndGivesTheReceiverNone) {
  RecordingLogBox log;
  ServerSource source("127.1", {Address("127.0.0.1"), Address("192.168.4.2")});
  EXPECT_EQ(source.receiverSource(), "");
  EXPECT_TRUE(source.Admit(Address("192.168.4.2")));
  EXPECT_TRUE(source.Admit(Address("127.0.0.1")));
  EXPECT_TRUE(source.Admit(Address("0.0.0.0"))) << "sent from this host without an address";
  EXPECT_FALSE(source.Admit(Address("127.0.0.2")));
  EXPECT_FALSE(source.Admit(Address("192.168.4.3")));

  ServerSource none("not an address", {Address("127.0.0.1")});
  EXPECT_FALSE(none.Admit(Address("127.0.0.1")));
}

TEST(ReceiverEventTest, RefusalsAndReplacementsAreLoggedAndNoFileIsHandedOn) {
  RecordingLogBox log;
  int files = 0;
  SinkFcastRcvEvent sink(std::make_shared<FakeReceiverObject>(),
                         [&](long, const std::string&, long) { ++files; });
  EXPECT_TRUE(sink.HandleEvent(FCASTRE_ERROR, kFcastErrorUnauthenticated, 4, 0, "evil.sh"));
  EXPECT_TRUE(sink.HandleEvent(FCASTRE_ERROR, kFcastErrorStraySource, 0, 0, "10.0.0.66"));
  EXPECT_TRUE(sink.HandleEvent(FCASTRE_FILE_REPLACED, 0, 5, 10, "notes.txt"));
  EXPECT_EQ(files, 0);
  EXPECT_EQ(log.Bodies(),
            (std::vector<std::string>{"[FCAST] Refused evil.sh: not signed by the server's key",
                                      "[FCAST] Datagrams from 10.0.0.66 dropped: not the server",
                                      "[FCAST] Kept the previous notes.txt as notes.txt~"}));
}

}  // namespace
}  // namespace ondavox::client
