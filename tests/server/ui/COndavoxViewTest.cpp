#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Socket.h"
#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"
#include "server/ui/CMainFrame.h"
#include "server/ui/COndavoxView.h"
#include "server/ui/DocumentLoading.h"
#include "server/ui/TransferStatus.h"
#include "tests/platform/ui/GuiTestSupport.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

// The main window over a document in a temporary folder (with its upload folder), with an Fcast
// sender that sends nothing.
class ControlWindowTest : public testing::Test {
 protected:
  ControlWindowTest() {
    EnsureApplication();
    std::filesystem::create_directory(dir_.path() / "upload");
    document_ = std::make_unique<COndavoxDoc>(dir_.path().string(),
                                              FactoryOf(std::make_shared<FakeFcastSender>()));
    EXPECT_TRUE(document_->Load().ok());
    frame_ = std::make_unique<CMainFrame>(*document_, dir_.path().string());
  }
  ~ControlWindowTest() override {
    frame_.reset();
    document_.reset();
  }

  COndavoxView& view() { return frame_->view(); }
  QPushButton* Button(const char* name) { return Child<QPushButton>(view(), name); }
  QLineEdit* Field(const char* name) { return Child<QLineEdit>(view(), name); }
  QStringList LogLines() {
    QCoreApplication::processEvents();
    const QString text = Child<QPlainTextEdit>(view(), "log")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }
  void Click(const char* name) { Button(name)->click(); }
  // The enabled state of every control the table names, in one string per group.
  void ExpectState(bool running) {
    for (const char* name : {"startServer", "documentDatabaseBrowse", "documentPathBrowse",
                             "userDatabaseBrowse", "saveParameters"}) {
      EXPECT_EQ(Button(name)->isEnabled(), !running) << name;
    }
    for (const char* name : {"stopServer", "manageUsers", "manageDocuments", "clearLog"}) {
      EXPECT_EQ(Button(name)->isEnabled(), running) << name;
    }
    EXPECT_TRUE(Button("managePlayList")->isEnabled());
    for (const char* name : {"tcpPort", "multicastIP", "multicastPort", "fcastIP", "fcastPort",
                             "fcastRound", "fcastRate"}) {
      EXPECT_EQ(Field(name)->isEnabled(), !running) << name;
    }
    for (const char* name : {"documentDatabase", "documentPath", "userDatabase"}) {
      EXPECT_TRUE(Field(name)->isEnabled()) << name;
      EXPECT_TRUE(Field(name)->isReadOnly()) << name;
    }
    EXPECT_EQ(view().startAction()->isEnabled(), !running);
    EXPECT_EQ(view().stopAction()->isEnabled(), running);
    EXPECT_EQ(view().usersAction()->isEnabled(), running);
    EXPECT_EQ(view().documentsAction()->isEnabled(), running);
    EXPECT_TRUE(view().playlistAction()->isEnabled());
  }

  TempDir dir_;
  MessageRecorder messages_;
  std::unique_ptr<COndavoxDoc> document_;
  std::unique_ptr<CMainFrame> frame_;
};

// The status bar's transfer progress: bytes sent of size x rounds, the rate between two
// reports of one transfer, the round; hidden between transfers.
TEST_F(ControlWindowTest, TheStatusBarShowsTheTransferProgressAndHidesBetweenTransfers) {
  frame_->show();
  TransferStatus& status = frame_->transferStatus();
  EXPECT_TRUE(status.isHidden());

  TransferMeter meter;
  FcastSenderThread::Progress progress;
  progress.entry = CDocInfo("clip.avi", "root", "/srv/clip.avi", "video/avi", 0, 1, "");
  progress.fileSize = 10'000'000;
  progress.rounds = 3;
  const auto t0 = std::chrono::steady_clock::now();
  status.Show(meter.Sample(progress, t0));
  EXPECT_EQ(status.text(),
            QStringLiteral("Sending clip.avi: 0 B of 30.0 MB (0%), round 1 of 3"));
  progress.bytesSent = 12'600'000;
  progress.round = 2;
  status.Show(meter.Sample(progress, t0 + std::chrono::seconds(10)));
  EXPECT_FALSE(status.isHidden());
  EXPECT_EQ(status.text(),
            QStringLiteral("Sending clip.avi: 12.6 MB of 30.0 MB (42%), 1.3 MB/s, round 2 of 3"));
  // Past the last round while the sender thread takes the file off: still round 3 of 3.
  progress.bytesSent = 31'000'000;
  progress.round = 4;
  status.Show(meter.Sample(progress, t0 + std::chrono::seconds(20)));
  EXPECT_EQ(status.text(),
            QStringLiteral("Sending clip.avi: 31.0 MB of 30.0 MB (100%), 1.8 MB/s, round 3 of 3"));

  status.Show(meter.Sample(std::nullopt, t0 + std::chrono::seconds(21)));
  EXPECT_TRUE(status.isHidden());
  // The next transfer's rate starts from its own first report.
  progress.entry = CDocInfo("song.mp3", "root", "/srv/song.mp3", "audio/mp3", 0, 1, "");
  progress.bytesSent = 50'000'000;
  EXPECT_FALSE(meter.Sample(progress, t0 + std::chrono::seconds(22))->bytesPerSecond);
}

TEST_F(ControlWindowTest, StartAndStopSwitchTheControlsAndTheMenuFollows) {
  EXPECT_EQ(Field("tcpPort")->text(), QStringLiteral("1550"));
  EXPECT_EQ(Field("multicastIP")->text(), QStringLiteral("230.0.0.1"));
  EXPECT_EQ(Field("fcastRate")->text(), QStringLiteral("400"));
  EXPECT_EQ(Field("documentPath")->text().toStdString(), dir_.path().string() + "/upload/");
  ExpectState(false);

  Click("startServer");
  ASSERT_TRUE(document_->IsRunning());
  ExpectState(true);
  EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Server started.")});
  view().startAction()->trigger();  // disabled: nothing runs twice
  EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Server started.")});

  Click("stopServer");
  EXPECT_FALSE(document_->IsRunning());
  ExpectState(false);
  EXPECT_EQ(LogLines(),
            (QStringList{QStringLiteral("Server started."), QStringLiteral("Server stopped.")}));
  EXPECT_TRUE(messages_.messages().empty());

  QStringList menus;
  for (QAction* menu : frame_->menuBar()->actions()) menus << menu->text();
  EXPECT_EQ(menus, (QStringList{"&File", "Server", "&Display", "&?"}));
  EXPECT_EQ(view().startAction()->statusTip(), QStringLiteral("Open Sockets and start listening"));
  EXPECT_EQ(view().usersAction()->statusTip(), QStringLiteral("Manage & View Users"));
}

TEST_F(ControlWindowTest, AStartStepThatFailsStaysInTheLogAboveTheStartLine) {
  Socket holder = Socket::Tcp();
  const Ipv4Endpoint port = Ipv4Endpoint::Any(1550);
  ASSERT_EQ(::bind(holder.Fd(), port.Get(), Ipv4Endpoint::Size()), 0);
  ASSERT_EQ(::listen(holder.Fd(), 1), 0);

  Click("startServer");
  ASSERT_TRUE(document_->IsRunning());
  EXPECT_EQ(LogLines(), (QStringList{QStringLiteral("TCP: port 1550 could not be opened (Address "
                                                    "already in use); clients cannot connect"),
                                     QStringLiteral("Server started.")}));
  Click("stopServer");
}

TEST_F(ControlWindowTest, StartChecksTheThreePathsInOrder) {
  const std::string missing = dir_.File("missing");
  Field("documentDatabase")->setText(QStringLiteral("DocumentDB.dat"));  // no folder part
  Click("startServer");
  Field("documentDatabase")->setText(QString::fromStdString(missing + "/DocumentDB.dat"));
  Click("startServer");
  Field("documentDatabase")->setText(QString::fromStdString(dir_.File("DocumentDB.dat")));
  Field("documentPath")->setText(QString::fromStdString(missing));
  Click("startServer");
  Field("documentPath")->setText(QString::fromStdString(dir_.File("upload")));
  Field("userDatabase")->setText(QString::fromStdString(missing + "/UserDB.dat"));
  Click("startServer");
  EXPECT_FALSE(document_->IsRunning());
  ASSERT_EQ(messages_.messages().size(), 4u);
  const QStringList expected{"Document database path is not valide !",
                             "Document database path is not valide !",
                             "Document path is not valide !", "User database path is not valide !"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(messages_.messages()[i].text, expected[static_cast<int>(i)]);
    EXPECT_EQ(messages_.messages()[i].title, QStringLiteral("Error"));
    EXPECT_EQ(messages_.messages()[i].icon, MessageIcon::kError);
  }
  ExpectState(false);
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(ControlWindowTest, AnEmptyPortStopsTheReadingSoTheFirstStartFailsOnItsPaths) {
  Field("tcpPort")->clear();
  Click("startServer");
  ASSERT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(messages_.messages()[0].text, QStringLiteral("Tapez un nombre entier."));
  EXPECT_EQ(messages_.messages()[1].text, QStringLiteral("Document database path is not valide !"));
  EXPECT_FALSE(document_->IsRunning());

  // Once read, the copies stay: a later empty port still lets the start go on with them.
  Field("tcpPort")->setText(QStringLiteral("1550"));
  Click("startServer");
  ASSERT_TRUE(document_->IsRunning());
  Click("stopServer");
  Field("multicastPort")->clear();
  messages_.Clear();
  document_->config().MulticastPort = 2001;
  Click("startServer");
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Tapez un nombre entier."));
  EXPECT_TRUE(document_->IsRunning());
}

TEST_F(ControlWindowTest, AMulticastGroupLongerThanFifteenCharactersStopsTheReadingOfTheFields) {
  document_->config().MulticastIP = "230.000.000.0001";
  view().ShowSettings();
  EXPECT_EQ(Field("multicastIP")->text(), QStringLiteral("230.000.000.0001"));
  Click("startServer");
  // The reading stops at the group, so the first start has no path copies to check.
  ASSERT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(messages_.messages()[0].text, QStringLiteral("Tapez 15 caractères au maximum."));
  EXPECT_EQ(messages_.messages()[1].text, QStringLiteral("Document database path is not valide !"));
  EXPECT_FALSE(document_->IsRunning());
}

TEST_F(ControlWindowTest, TypingChangesTheSettingsAtOnceAndOnlySaveParametersWritesTheFile) {
  const std::string ini = dir_.File("server.ini");
  Field("tcpPort")->setFocus();
  Field("tcpPort")->selectAll();
  Field("tcpPort")->insert(QStringLiteral("1600"));
  EXPECT_EQ(document_->config().Port, 1600);
  Field("fcastIP")->selectAll();
  Field("fcastIP")->insert(QStringLiteral("230.0.0.7"));
  EXPECT_EQ(document_->config().FcastIP, "230.0.0.7");
  EXPECT_EQ(ReadFile(ini).find("Port=1600\n"), std::string::npos);
  Click("saveParameters");
  EXPECT_NE(ReadFile(ini).find("Port=1600\n"), std::string::npos);
  EXPECT_NE(ReadFile(ini).find("FcastIP=230.0.0.7\n"), std::string::npos);
}

TEST_F(ControlWindowTest, PickersSetThePathFieldsAndTheirSettings) {
  PickerScript picker(QString::fromStdString(dir_.File("other") + "/"));
  std::filesystem::create_directory(dir_.path() / "other");
  Click("documentPathBrowse");
  EXPECT_EQ(Field("documentPath")->text().toStdString(), dir_.File("other"));
  EXPECT_EQ(document_->config().documentPath, dir_.File("other"));
  ASSERT_EQ(picker.requests().size(), 1u);
  EXPECT_EQ(picker.requests()[0].kind, FilePickRequest::Kind::kFolder);
  EXPECT_EQ(picker.requests()[0].title, QStringLiteral("Select a folder to put recorded files : "));

  picker.Answer(QString::fromStdString(dir_.File("users.dat")));
  Click("userDatabaseBrowse");
  EXPECT_EQ(document_->config().clientDatabase, dir_.File("users.dat"));
  EXPECT_EQ(picker.requests()[1].defaultName, QStringLiteral("ClientDB.dat"));
  EXPECT_EQ(picker.requests()[1].defaultSuffix, QStringLiteral("dat"));
  EXPECT_EQ(picker.requests()[1].filter,
            QStringLiteral("Client Database (*.dat)|*.dat|All Files (*.*)|*.*||"));

  picker.Answer(std::nullopt);  // cancelled: nothing changes
  Click("documentDatabaseBrowse");
  EXPECT_EQ(document_->config().documentDatabase, dir_.File("DocumentDB.dat"));
  EXPECT_EQ(picker.requests()[2].defaultName, QStringLiteral("DocumentDB.dat"));
}

TEST_F(ControlWindowTest, EventLinesFromSeveralThreadsArriveWholeAndInOrderAfterTheStartLine) {
  Click("startServer");
  constexpr int kThreads = 4;
  constexpr int kEvents = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEvents; ++i) {
        document_->runner().PostEvent(
            ServerEvent(LOG_INFO, {"thread " + std::to_string(t) + " event " + std::to_string(i)}));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(ProcessUntil([&] { return LogLines().size() == 1 + kThreads * kEvents; }));
  const QStringList lines = LogLines();
  EXPECT_EQ(lines.front(), QStringLiteral("Server started."));
  std::vector<int> next(kThreads, 0);
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList words = lines[i].split(QLatin1Char(' '));
    ASSERT_EQ(words.size(), 4) << lines[i].toStdString();
    EXPECT_EQ(words[3].toInt(), next[words[1].toInt()]++);
  }
  Click("clearLog");
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(ControlWindowTest, ClientEventsAreLoggedAndStopFollowsThem) {
  Click("startServer");
  {
    TestClient bob(1550);
    ASSERT_TRUE(bob.Connected());
    EXPECT_EQ(bob.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t4000"), kRegistered);
    EXPECT_EQ(bob.Ask("LOGOUT\tbob"), kLogoutAccepted);
  }
  ASSERT_TRUE(ProcessUntil([&] { return LogLines().size() == 4; }))
      << LogLines().join(QLatin1Char('|')).toStdString();
  Click("stopServer");
  EXPECT_EQ(LogLines(),
            (QStringList{"Server started.", "A new client was added to the database : bob",
                         "New client logged : bob", "bob has logged out.", "Server stopped."}));
}

TEST_F(ControlWindowTest, QuittingWhileRunningStopsTheServerAndSavesEveryoneOffline) {
  Click("startServer");
  TestClient bob(1550);
  ASSERT_EQ(bob.Ask("REGISTER\tbob\tpw\tBob\tBrown\t10.0.0.2\t4000"), kRegistered);
  frame_->close();
  EXPECT_FALSE(document_->IsRunning());
  EXPECT_FALSE(document_->runner().IsRunning());
  UserDatabase saved(dir_.File("UserDB.dat"));
  ASSERT_TRUE(saved.Load().ok());
  ASSERT_NE(saved.Find("bob"), nullptr);
  EXPECT_EQ(saved.Find("bob")->online(), 0);
  ServerDataAccess access(document_->runner());
  EXPECT_EQ(document_->users().Find("bob")->online(), 0);
}

TEST_F(ControlWindowTest, AStopThatCannotSaveSaysSoAndLeavesTheServerStopped) {
  Click("startServer");
  std::filesystem::create_directory(dir_.path() / "UserDB.dat");
  Click("stopServer");
  ASSERT_EQ(messages_.messages().size(), 1u);
  EXPECT_NE(messages_.LastText().indexOf(QStringLiteral("UserDB.dat")), -1);
  EXPECT_EQ(LogLines().back(), QStringLiteral("Server Stop error."));
  ExpectState(false);
}

TEST_F(ControlWindowTest, CtrlSAndCtrlOSaveAndOpenTheDocumentFile) {
  const QString file = QString::fromStdString(dir_.File("net.ondavox"));
  PickerScript picker(file);
  document_->config().Port = 1700;
  QKeySequence save(QKeySequence::Save);
  for (QAction* action : frame_->actions()) {
    if (action->shortcut() == save) action->trigger();
  }
  ASSERT_TRUE(std::filesystem::exists(file.toStdString()));
  document_->config().Port = 1;
  for (QAction* action : frame_->actions()) {
    if (action->shortcut() == QKeySequence(QKeySequence::Open)) action->trigger();
  }
  EXPECT_EQ(document_->config().Port, 1700);
  EXPECT_EQ(Field("tcpPort")->text(), QStringLiteral("1700"));
}

class FixedResolver final : public HostResolver {
 public:
  explicit FixedResolver(std::optional<std::string> address) : address_(std::move(address)) {}
  std::optional<std::string> HostName() override { return "studio"; }
  std::optional<std::string> FirstAddress(const std::string&) override { return address_; }

 private:
  std::optional<std::string> address_;
};

TEST(ControlWindowLoad, ADatabaseThatDoesNotParseIsTheFrameworksMessageWithTheDetailUnderIt) {
  EnsureApplication();
  MessageRecorder messages;
  TempDir dir;
  WriteFile(dir.path() / "UserDB.dat", std::string("\x01\x00\xFF\xFF", 4));
  COndavoxDoc document(dir.path().string(), FactoryOf(std::make_shared<FakeFcastSender>()));
  EXPECT_FALSE(LoadDocumentOrReport(document));
  ASSERT_EQ(messages.messages().size(), 1u);
  const QStringList lines = messages.LastText().split(QLatin1Char('\n'));
  EXPECT_EQ(lines.front(), QStringLiteral("La création d'un document vide a échoué."));
  EXPECT_TRUE(lines.back().startsWith(QString::fromStdString(dir.File("UserDB.dat")) +
                                      QStringLiteral(": format error at byte ")))
      << messages.LastText().toStdString();
  EXPECT_EQ(messages.messages().back().icon, MessageIcon::kError);
}

TEST_F(ControlWindowTest, TitleNamesTheHostAndStaysServerWhenItCannotBeResolved) {
  FixedResolver resolved("192.168.1.10");
  frame_->ShowHostTitle(resolved);
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("ZENTALO Server - studio - 192.168.1.10"));
  FixedResolver unresolved(std::nullopt);
  frame_->ShowHostTitle(unresolved);
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Server"));
}

}  // namespace
}  // namespace ondavox::test
