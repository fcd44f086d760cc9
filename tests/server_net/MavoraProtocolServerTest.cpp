#include <gtest/gtest.h>

#include "common/ReplyCodes.h"
#include "server/data/ServerEvent.h"
#include "server/net/MavoraProtocolServer.h"
#include "server/net/ServerDataAccess.h"
#include "fcast/engine/Sha256.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

using Events = std::vector<std::pair<int, std::string>>;

class InterpreterTest : public ServerFixture {
 protected:
  std::string Invoke(const std::string& message) {
    return runner_.protocol().invoke(message, connectionLogin_);
  }
  std::string connectionLogin_;
};

TEST_F(InterpreterTest, RegisterCreatesSavesAndLogsTheUserIn) {
  EXPECT_EQ(Invoke("REGISTER\tann\tpw\tAnn\tSmith\t10.0.0.7\t4000"), kRegistered);
  EXPECT_EQ(listener_.Events(), (Events{{USER_NEW, "ann"}, {USER_ONLINE, "ann"}}));
  EXPECT_EQ(connectionLogin_, "ann");
  ASSERT_TRUE(User("ann"));
  EXPECT_EQ(*User("ann"), CUserInfo("ann", "pw", "Ann", "Smith", 0, 1, "10.0.0.7", 4000));

  // The registration is on disk at once, with online written as 0.
  UserDatabase stored(dir_.File("UserDB.dat"));
  ASSERT_TRUE(stored.Load().ok());
  ASSERT_NE(stored.Find("ann"), nullptr);
  EXPECT_EQ(stored.Find("ann")->online(), 0);
  EXPECT_EQ(stored.Find("ann")->password(), "pw");

  listener_.Clear();
  EXPECT_EQ(Invoke("REGISTER\tann\tother\tX\tY\t10.0.0.8\t1"), kRegisterRefused);
  EXPECT_EQ(listener_.Events(),
            (Events{{LOG_FAILURE, "REGISTER: the user ann already exist in the Database"}}));
  EXPECT_EQ(User("ann")->password(), "pw");
}

TEST_F(InterpreterTest, LoginAcceptsOnlyTheRightPasswordOfAFreeUser) {
  AddUser("ann", "pw");
  AddUser("bob", "pw", /*banned=*/1);

  EXPECT_EQ(Invoke("LOGIN\tzed\tpw\t10.0.0.1\t1"), kLoginRefused);
  EXPECT_EQ(Invoke("LOGIN\tann\tPW\t10.0.0.1\t1"), kLoginRefused);
  EXPECT_EQ(Invoke("LOGIN\tbob\tpw\t10.0.0.1\t1"), kLoginRefused);
  EXPECT_EQ(listener_.Events(),
            (Events{{LOG_FAILURE, "LOGIN: An unregistered user tried to connect under the login :zed"},
                    {LOG_FAILURE, "LOGIN: An user tried to connect under the login ann but he "
                                  "wasn't allowed to."},
                    {LOG_FAILURE, "LOGIN: An user tried to connect under the login bob but he "
                                  "wasn't allowed to."}}));
  EXPECT_EQ(connectionLogin_, "") << "a refused LOGIN is not recorded for the connection";

  listener_.Clear();
  EXPECT_EQ(Invoke("LOGIN\tann\tpw\t192.168.3.9\t1550x"), kLoginAccepted);
  EXPECT_EQ(listener_.Events(), (Events{{USER_ONLINE, "ann"}}));
  EXPECT_EQ(connectionLogin_, "ann");
  EXPECT_EQ(User("ann")->online(), 1);
  EXPECT_EQ(User("ann")->ipAddress(), "192.168.3.9");
  EXPECT_EQ(User("ann")->port(), 1550);

  // Already online elsewhere: refused, and this second connection does not take the login.
  std::string otherConnection;
  EXPECT_EQ(runner_.protocol().invoke("LOGIN\tann\tpw\t10.0.0.2\t9", otherConnection),
            kLoginRefused);
  EXPECT_EQ(otherConnection, "");
  EXPECT_EQ(User("ann")->ipAddress(), "192.168.3.9");
}

TEST_F(InterpreterTest, LogoutOnlyForTheConnectionsOwnLogin) {
  AddUser("ann", "pw");
  AddUser("bob", "pw");
  ASSERT_EQ(Invoke("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  std::string bobConnection;
  ASSERT_EQ(runner_.protocol().invoke("LOGIN\tbob\tpw\t10.0.0.2\t1", bobConnection),
            kLoginAccepted);
  listener_.Clear();

  EXPECT_EQ(Invoke("LOGOUT"), kLogoutRefused);
  EXPECT_EQ(Invoke("LOGOUT\t"), kLogoutRefused);
  EXPECT_EQ(Invoke("LOGOUT\tbob"), kLogoutRefused);
  EXPECT_EQ(User("bob")->online(), 1);
  EXPECT_EQ(Invoke("LOGOUT\tann"), kLogoutAccepted);
  EXPECT_EQ(User("ann")->online(), 0);
  EXPECT_EQ(listener_.Events(), (Events{{LOG_FAILURE, "LOGOUT: Client has been disconnected"},
                                        {LOG_FAILURE, "LOGOUT: Client has been disconnected"},
                                        {LOG_FAILURE, "LOGOUT: Bad Logout request."},
                                        {USER_OFFLINE, "ann"}}));
}

TEST_F(InterpreterTest, WhoisAndFileinfoAnswerWithTheirTexts) {
  AddUser("ann", "secret", 0, "Ann", "Smith");
  AddUser("nameless", "pw", 1, "", "");
  AddDocument("clip.avi", "ann");

  EXPECT_EQ(Invoke("WHOIS\tann"),
            "Login : \t\tann%#Name : \t\tAnn%#Lastname : \tSmith%#Status : \t\tOffline%#Banned : "
            "\t\tNo%#IP : \t\t%#");
  EXPECT_EQ(Invoke("WHOIS\tnameless"),
            "Login : \t\tnameless%#Name : \t\t%#Lastname : \t%#Status : \t\tOffline%#Banned : "
            "\t\tYes%#IP : \t\t%#");
  EXPECT_EQ(Invoke("WHOIS\tzed"), kUnknownUser);
  EXPECT_EQ(Invoke("FILEINFO\tclip.avi\tann"),
            "Filename :\tclip.avi%#Owner :\t\tann%#MimeType :\tvideo/avi%#Description :\tHoliday "
            "clip%#Streamable : \tYes");
  EXPECT_EQ(Invoke("FILEINFO\tann\tclip.avi"), kUnknownDocument);
  EXPECT_EQ(listener_.Events(),
            (Events{{LOG_INFO, "WHOIS ann completed."},
                    {LOG_INFO, "WHOIS nameless completed."},
                    {LOG_FAILURE, "WHOIS: the user wasn't in the Database"},
                    {LOG_INFO, "FILEINFO: owner : ann File: clip.avi infos were found in the Database"},
                    {LOG_FAILURE, "FILEINFO : document does not exist"}}));
}

TEST_F(InterpreterTest, WrongFieldCountsAndUnknownWordsGetTheirCodesWithoutEvents) {
  EXPECT_EQ(Invoke("LOGIN\tann\tpw\t10.0.0.1"), kWrongFieldCount);
  EXPECT_EQ(Invoke("REGISTER\tann\tpw\tA\tB\t10.0.0.1"), kWrongFieldCount);
  EXPECT_EQ(Invoke("WHOIS"), kWrongFieldCount);
  EXPECT_EQ(Invoke("WHOIS\ta\tb"), kWrongFieldCount);
  EXPECT_EQ(Invoke("FILEINFO\tclip.avi"), kUnknownDocument);
  EXPECT_EQ(Invoke("PLAYLIST\t\t"), kPlaylistWrongFieldCount);
  EXPECT_EQ(Invoke("login\tann\tpw\t10.0.0.1\t1"), kUnknownCommand);
  EXPECT_EQ(Invoke(""), kUnknownCommand);
  EXPECT_EQ(Invoke("KEY"), kUnknownCommand) << "a runner never started with a key";
  EXPECT_TRUE(listener_.Events().empty());
  EXPECT_EQ(Invoke("PLAYLIST"), kPlaylistAnnounced);
  EXPECT_EQ(listener_.Events(), (Events{{LOG_INFO, "PLAYLIST: the playlist was sent in Multicast"}}));
}

// A listener that reads the user database while it handles an event, as the server document
// does: events raised under the data lock reach it after the lock is released.
class LockingListener final : public ServerEventListener {
 public:
  explicit LockingListener(ServerRunner& runner) : runner_(runner) {}
  void OnServerEvent(const ServerEvent& event) override {
    ServerDataAccess access(runner_);
    if (event.GetType() == USER_NEW) sawUser = runner_.users().Find(event.GetParam(0)) != nullptr;
  }
  bool sawUser = false;

 private:
  ServerRunner& runner_;
};

TEST_F(InterpreterTest, ReceiptsAreRecordedOnlyForTheFileAsSentByALoggedInUser) {
  const std::string bytes = "the file's bytes";
  WriteFile(dir_.File("clip.avi"), bytes);
  runner_.deliveries().TransferStarted(
      CDocInfo("clip.avi", "root", dir_.File("clip.avi"), "unknown", 0, 1, "A clip"),
      static_cast<long long>(bytes.size()));
  fcast::Sha256 hash;
  hash.Update({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  const std::string digest = fcast::ToHex(hash.Final());
  const std::string receipt = "RECEIVED\tclip.avi\t" + std::to_string(bytes.size()) + "\t";

  EXPECT_EQ(Invoke(receipt + digest), kReceiptNotLoggedIn);
  AddUser("ann", "pw");
  ASSERT_EQ(Invoke("LOGIN\tann\tpw\t10.0.0.1\t1"), kLoginAccepted);
  listener_.Clear();
  EXPECT_EQ(Invoke("RECEIVED\tclip.avi\t16"), kReceiptRefused);
  EXPECT_EQ(Invoke("RECEIVED\tother.avi\t16\t" + digest), kReceiptRefused);
  EXPECT_EQ(Invoke("RECEIVED\tclip.avi\t15\t" + digest), kReceiptRefused);
  EXPECT_EQ(Invoke("RECEIVED\tclip.avi\t16x\t" + digest), kReceiptRefused);
  EXPECT_EQ(Invoke(receipt + std::string(64, '0')), kReceiptRefused);
  EXPECT_TRUE(runner_.deliveries().Transfers().front().holders.empty());
  EXPECT_EQ(listener_.Events(), Events{});

  EXPECT_EQ(Invoke(receipt + digest), kReceiptRecorded);
  EXPECT_EQ(Invoke(receipt + digest), kReceiptRecorded);  // a repeat is one holder
  const std::vector<DeliveryLedger::Transfer> transfers = runner_.deliveries().Transfers();
  ASSERT_EQ(transfers.front().holders.size(), 1U);
  EXPECT_EQ(transfers.front().holders.front().login, "ann");
  EXPECT_EQ(listener_.Events(),
            (Events{{LOG_INFO, "ann received clip.avi"}, {LOG_INFO, "ann received clip.avi"}}));
}

TEST_F(InterpreterTest, ListenersMayTakeTheDataLockWhileHandlingEvents) {
  LockingListener locking(runner_);
  runner_.AddListener(&locking);
  EXPECT_EQ(Invoke("REGISTER\tann\tpw\tAnn\tSmith\t10.0.0.7\t4000"), kRegistered);
  EXPECT_TRUE(locking.sawUser);
}

}  // namespace
}  // namespace ondavox::test
