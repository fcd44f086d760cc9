#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/ReplyCodes.h"
#include "platform/UniqueFd.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/net/ServerDataAccess.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/server/app/RecordingLog.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

using Lines = std::vector<std::string>;

class RecordingDialog final : public RefreshTarget {
 public:
  void RequestRefresh() override { ++requests; }
  std::atomic<int> requests{0};
};

// A document over a server.ini and databases in a temporary folder, with an Fcast sender that
// sends nothing, logging into a recording log.
class DocumentTest : public testing::Test {
 protected:
  DocumentTest() { Open(); }

  void Open() {
    document_ = std::make_unique<COndavoxDoc>(dir_.path().string(), FactoryOf(sender_));
    ASSERT_TRUE(document_->Load().ok());
    document_->SetLog(&log_);
  }
  void Close() {
    if (document_) document_->SetLog(nullptr);
    document_.reset();
  }
  ~DocumentTest() override { Close(); }

  void AddUser(const std::string& login, int online = 0) {
    ServerDataAccess access(document_->runner());
    auto user = std::make_unique<CUserInfo>(login, "pw", "Ann", "Smith", 0, online, "", 0);
    ASSERT_TRUE(document_->users().Add(user));
  }
  void SetOnline(const std::string& login, int online) {
    ServerDataAccess access(document_->runner());
    document_->users().Find(login)->SetOnline(online);
  }
  Lines LoggedIn() {
    ServerDataAccess access(document_->runner());
    return document_->loggedInLogins();
  }
  Lines LoggedOut() {
    ServerDataAccess access(document_->runner());
    return document_->loggedOutLogins();
  }
  void Post(int code, std::vector<std::string> params = {}) {
    document_->runner().PostEvent(ServerEvent(code, std::move(params)));
  }

  TempDir dir_;
  RecordingLog log_;
  const std::shared_ptr<FakeFcastSender> sender_ = std::make_shared<FakeFcastSender>();
  std::unique_ptr<COndavoxDoc> document_;
};

TEST_F(DocumentTest, EachEventLogsItsLineAndLoginEventsRefreshTheListsAndTheUsersDialog) {
  AddUser("bob");
  AddUser("ann");
  RecordingDialog users;
  RecordingDialog playlist;
  document_->SetUsersDialog(&users);
  document_->SetPlaylistDialog(&playlist);

  SetOnline("bob", 1);
  Post(USER_ONLINE, {"bob"});
  EXPECT_EQ(LoggedIn(), Lines{"bob"});
  EXPECT_EQ(LoggedOut(), Lines{"ann"});
  SetOnline("bob", 0);
  Post(USER_OFFLINE, {"bob"});
  EXPECT_EQ(LoggedIn(), Lines{});
  EXPECT_EQ(LoggedOut(), (Lines{"bob", "ann"}));
  Post(USER_NEW, {"carl"});
  Post(USER_DEL, {"dora"});
  EXPECT_EQ(users.requests, 4);

  Post(PLAYLIST_UPDATED);
  EXPECT_EQ(playlist.requests, 1);
  EXPECT_EQ(users.requests, 4);
  Post(LOG_FAILURE, {"WHOIS: the user wasn't in the Database"});
  Post(LOG_INFO, {"PLAYLIST: the playlist was sent in Multicast"});
  Post(9);
  Post(72);
  Post(DOC_NEW);
  EXPECT_EQ(log_.Lines(),
            (Lines{"New client logged : bob", "bob has logged out.",
                   "A new client was added to the database : carl",
                   "A client was removed from the database : dora",
                   "The playlist has been updated.", "WHOIS: the user wasn't in the Database",
                   "PLAYLIST: the playlist was sent in Multicast", "Unknow Event", "Unknow Event",
                   "Unknow Event"}));

  document_->SetUsersDialog(nullptr);
  document_->SetPlaylistDialog(nullptr);
  Post(USER_ONLINE, {"bob"});
  Post(PLAYLIST_UPDATED);
  EXPECT_EQ(users.requests, 4);
  EXPECT_EQ(playlist.requests, 1);
}

TEST(DocumentLog, LinesBeforeALogExistsAreKeptInOrderForTheFirstLog) {
  TempDir dir;
  COndavoxDoc document(dir.path().string(), [] { return std::shared_ptr<FcastSender>(); });
  ASSERT_TRUE(document.Load().ok());
  document.runner().PostEvent(ServerEvent(LOG_INFO, {"first"}));
  document.runner().PostEvent(ServerEvent(LOG_INFO, {"second"}));
  RecordingLog log;
  document.SetLog(&log);
  document.runner().PostEvent(ServerEvent(LOG_INFO, {"third"}));
  document.SetLog(nullptr);
  EXPECT_EQ(log.Lines(), (Lines{"first", "second", "third"}));
}

TEST_F(DocumentTest, TheSettingsFileIsCreatedInTheFolderAndTheDatabasesLiveThere) {
  const std::string ini = ReadFile(dir_.path() / "server.ini");
  EXPECT_NE(ini.find("Port=1550\n"), std::string::npos) << ini;
  EXPECT_EQ(document_->config().clientDatabase, dir_.File("UserDB.dat"));
  EXPECT_EQ(document_->config().fileName(), dir_.File("server.ini"));
  document_->config().Port = 1600;
  EXPECT_TRUE(document_->SaveSettings());
  EXPECT_NE(ReadFile(dir_.path() / "server.ini").find("Port=1600\n"), std::string::npos);
}

TEST_F(DocumentTest, DocumentFileHoldsTheThreeNetworkSettingsAndOpeningReplacesThem) {
  document_->config().Port = 1600;
  document_->config().MulticastPort = 2100;
  document_->config().MulticastIP = "230.0.0.9";
  const std::string file = dir_.File("settings.ondavox");
  ASSERT_TRUE(document_->SaveDocumentFile(file).ok());
  // int32 1600, int32 2100, then the string with its one-byte length.
  EXPECT_EQ(ReadFile(file), std::string("\x40\x06\0\0\x34\x08\0\0\x09", 9) + "230.0.0.9");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U);

  document_->config().Port = 1;
  document_->config().MulticastPort = 2;
  document_->config().MulticastIP = "x";
  document_->config().FcastPort = 77;
  ASSERT_TRUE(document_->OpenDocumentFile(file).ok());
  EXPECT_EQ(document_->config().Port, 1600);
  EXPECT_EQ(document_->config().MulticastPort, 2100);
  EXPECT_EQ(document_->config().MulticastIP, "230.0.0.9");
  EXPECT_EQ(document_->config().FcastPort, 77);

  // A cut file changes nothing and names the file.
  WriteFile(file, std::string("\x41\x06\0\0\x34\x08\0\0\x09"
                              "230",
                              12));
  const Status cut = document_->OpenDocumentFile(file);
  EXPECT_EQ(cut.code(), Status::Code::kFormatError);
  EXPECT_NE(cut.message().find(file), std::string::npos) << cut.message();
  EXPECT_EQ(document_->config().Port, 1600);
  EXPECT_EQ(document_->config().MulticastIP, "230.0.0.9");
  EXPECT_FALSE(document_->OpenDocumentFile(dir_.File("missing")).ok());
}

TEST(DocumentLoad, AUserDatabaseThatDoesNotParseIsAnErrorNamingTheFile) {
  TempDir dir;
  WriteFile(dir.path() / "UserDB.dat", std::string("\x01\x00\xFF\xFF", 4));
  COndavoxDoc document(dir.path().string(), [] { return std::shared_ptr<FcastSender>(); });
  const Status status = document.Load();
  EXPECT_EQ(status.code(), Status::Code::kFormatError);
  EXPECT_NE(status.message().find("UserDB.dat"), std::string::npos) << status.message();
}

TEST(DocumentLoad, RemovesWhatKilledSavesLeftAndMakesTheDefaultDocumentFolder) {
  TempDir dir;
  for (const char* name : {"UserDB.dat.Ab12Cd", "DocumentDB.dat.x9Y8z7", "server.ini.QQQQQQ",
                           "UserDB.dat.busy01", "UserDB.dat.bak", "other.dat.Ab12Cd"}) {
    WriteFile(dir.path() / name, "partial");
  }
  // A temporary that a live writer holds stays.
  const UniqueFd busy(::open(dir.File("UserDB.dat.busy01").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(busy.Get(), LOCK_EX), 0);

  COndavoxDoc document(dir.path().string(), [] { return std::shared_ptr<FcastSender>(); });
  ASSERT_TRUE(document.Load().ok());
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"server.ini", "upload", "UserDB.dat.busy01",
                                         "UserDB.dat.bak", "other.dat.Ab12Cd"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "upload"));
}

TEST_F(DocumentTest, StartRefusesPortsAndInterfacesThatCannotBeUsedNamingThem) {
  document_->config().Port = 70000;
  EXPECT_FALSE(document_->Start().ok());
  EXPECT_FALSE(document_->IsRunning());
  document_->config().Port = 1550;
  document_->config().MulticastPort = 0;
  EXPECT_FALSE(document_->Start().ok());
  EXPECT_FALSE(document_->runner().IsRunning());
  document_->config().MulticastPort = 2001;

  document_->config().MulticastInterface = "10.200.0.1";  // no interface of this namespace
  EXPECT_EQ(ServerAdministration(*document_).StartServer().message(),
            "[UDP] Interface: 10.200.0.1 is not an address of this host");
  EXPECT_EQ(log_.Lines(), (Lines{"Server start error.",
                                 "[UDP] Interface: 10.200.0.1 is not an address of this host"}));
  document_->config().MulticastInterface = "127.0.0.1";
  document_->config().FcastInterface = "lo";
  EXPECT_EQ(document_->Start().message(), "[Fcast] Interface: lo is not an IPv4 address");
  EXPECT_FALSE(document_->runner().IsRunning());
  document_->config().FcastInterface = "127.0.0.1";
  EXPECT_TRUE(document_->Start().ok());
}

TEST_F(DocumentTest, TheSenderSignsWithTheKeyKEYAnswersWhichStaysTheSameAcrossRuns) {
  document_->config().FcastInterface = "127.0.0.1";
  ASSERT_TRUE(document_->Start().ok());
  EXPECT_TRUE(WaitFor([&] {
    return sender_->signingKeySize.load() == 32 && sender_->interfaceAddress() == "127.0.0.1";
  }));
  const std::string published = ReadFile(dir_.File("server.pub"));
  TestClient client(1550);
  EXPECT_EQ(client.Ask("KEY"), std::string(kServerKey) + "\t" + published.substr(0, 44));
  ASSERT_TRUE(document_->Stop().ok());

  Close();
  Open();
  ASSERT_TRUE(document_->Key().ok());
  EXPECT_EQ(document_->Key()->PublicKeyText() + "\n", published);
}

TEST_F(DocumentTest, ACorruptKeyStopsTheStartNamingItsFileWhichStaysAsItWas) {
  const std::string keyFile = dir_.File("server.key");
  WriteFile(keyFile, "garbage\n");
  ::chmod(keyFile.c_str(), 0600);
  const Status started = ServerAdministration(*document_).StartServer();
  EXPECT_FALSE(started.ok());
  EXPECT_FALSE(document_->runner().IsRunning());
  EXPECT_NE(started.message().find(keyFile), std::string::npos) << started.message();
  EXPECT_EQ(log_.Lines(), (Lines{"Server start error.", started.message()}));
  EXPECT_EQ(ReadFile(keyFile), "garbage\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("server.pub")));
}

TEST_F(DocumentTest, ClientsLogInAndOutWhileRunningAndStopSavesEveryoneOffline) {
  AddUser("ann");
  ASSERT_TRUE(document_->Start().ok());
  EXPECT_EQ(LoggedOut(), Lines{"ann"});
  TestClient bob(1550);
  ASSERT_TRUE(bob.Connected());
  EXPECT_EQ(bob.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t4000"), kRegistered);
  TestClient ann(1550);
  EXPECT_EQ(ann.Ask("LOGIN\tann\tpw\t10.0.0.3\t4001"), kLoginAccepted);
  EXPECT_EQ(LoggedIn(), (Lines{"ann", "bob"}));
  EXPECT_EQ(ann.Ask("LOGOUT\tann"), kLogoutAccepted);
  EXPECT_EQ(LoggedIn(), Lines{"bob"});
  EXPECT_EQ(LoggedOut(), Lines{"ann"});

  ASSERT_TRUE(document_->Stop().ok());
  EXPECT_FALSE(document_->IsRunning());
  EXPECT_EQ(LoggedIn(), Lines{});
  EXPECT_EQ(LoggedOut(), Lines{});
  EXPECT_EQ(log_.Lines(),
            (Lines{"A new client was added to the database : bob", "New client logged : bob",
                   "New client logged : ann", "ann has logged out."}));
  UserDatabase saved(dir_.File("UserDB.dat"));
  ASSERT_TRUE(saved.Load().ok());
  ASSERT_NE(saved.Find("bob"), nullptr);
  EXPECT_EQ(saved.Find("bob")->online(), 0);
  EXPECT_EQ(saved.Find("bob")->ipAddress(), "10.0.0.2");

  // Start again: bob, offline in memory too, can log in once more.
  ASSERT_TRUE(document_->Start().ok());
  TestClient again(1550);
  EXPECT_EQ(again.Ask("LOGIN\tbob\tpw\t10.0.0.2\t4000"), kLoginAccepted);
}

TEST_F(DocumentTest, QuittingWhileRunningSavesTheUsersAsOfflineSoTheyCanLogInAgain) {
  ASSERT_TRUE(document_->Start().ok());
  {
    TestClient bob(1550);
    EXPECT_EQ(bob.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t4000"), kRegistered);
    Close();  // the program ends with bob still logged in
  }
  Open();
  ASSERT_TRUE(document_->Start().ok());
  TestClient bob(1550);
  EXPECT_EQ(bob.Ask("LOGIN\tbob\tpw\t10.0.0.2\t4000"), kLoginAccepted);
}

TEST_F(DocumentTest, AFailedSaveAtStopIsReportedAndTheServerIsStoppedAnyway) {
  ASSERT_TRUE(document_->Start().ok());
  std::filesystem::create_directory(dir_.path() / "UserDB.dat");  // cannot be replaced
  const Status status = document_->Stop();
  EXPECT_EQ(status.code(), Status::Code::kIoError);
  EXPECT_FALSE(document_->IsRunning());
  EXPECT_FALSE(document_->runner().IsRunning());
}

}  // namespace
}  // namespace ondavox::test
