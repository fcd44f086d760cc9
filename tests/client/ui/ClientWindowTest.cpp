// The client's main window against the real server core in the test binary's private network:
// Connect with each box of the user dialog, the log lines of a login, a refusal, an unreachable
// server and a disconnection, the view's commands on the announced playlist, the settings
// commands, and a screenshot of the connected window.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>

#include "client/core/ClientRunner.h"
#include "client/ui/CClientView.h"
#include "client/ui/CMainFrame.h"
#include "client/ui/ReceptionProgress.h"
#include "common/ReplyCodes.h"
#include "server/net/ServerDataAccess.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/client/ui/QtPrinters.h"
#include "tests/platform/ui/GuiTestSupport.h"
#include "tests/server_net/ServerFixture.h"

namespace ondavox::test {

using namespace ondavox::server;
using namespace ondavox::client;
namespace {

constexpr char kGroup[] = "230.0.0.1";

QString TcpLog(std::string_view code) { return QString::fromStdString(TcpLine(code)); }

constexpr char kUdpClosed[] = "[UDP] You've been disconnected";
constexpr char kTcpClosed[] = "[TCP] You've been disconnected";

class FixedResolver final : public HostResolver {
 public:
  explicit FixedResolver(bool resolves) : resolves_(resolves) {}
  std::optional<std::string> HostName() override { return "studio"; }
  std::optional<std::string> FirstAddress(const std::string&) override {
    if (!resolves_) return std::nullopt;
    return "192.168.1.10";
  }

 private:
  bool resolves_;
};

// The client's window in its own start folder, beside a server with the user ann.
class ClientWindowTest : public ServerFixture {
 protected:
  ClientWindowTest() {
    EnsureApplication();
    std::filesystem::create_directory(start_);
    std::filesystem::current_path(start_);
    AddUser("ann", "pw");
    runner_.playlist().AddTail(CDocInfo("a.mp3", "ann", "/srv/a.mp3", "audio/mpeg", 0, 0, ""));
    runner_.playlist().AddTail(CDocInfo("b.wav", "ann", "/srv/b.wav", "audio/wav", 0, 0, ""));
    AddDocument("a.mp3", "ann");
    client_ = std::make_unique<ClientRunner>(launcher_,
                                             [] { return std::make_shared<FakeReceiverObject>(); });
    frame_ = std::make_unique<CMainFrame>(*client_, launcher_);
    frame_->config().serverGroup = kGroup;
    frame_->config().login = "ann";
    frame_->config().pass = "pw";
  }
  ~ClientWindowTest() override {
    client_->Close();  // its lines go to this window, not the next test's
    frame_.reset();
    client_.reset();
    runner_.Close();
    std::filesystem::current_path(previous_);
  }

  void StartServer() {
    ServerRunner::Settings settings;
    settings.multicastBindPort = 2099;  // off the port the client listens on
    runner_.Start(settings);
    ASSERT_TRUE(TestClient(kTcpPort).Connected());
  }
  // The log's lines without their time stamps.
  QStringList Log() {
    QCoreApplication::processEvents();
    QStringList lines;
    const QString text = Child<QPlainTextEdit>(frame_->view(), "log")->toPlainText();
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      EXPECT_EQ(line.indexOf(QStringLiteral(" > ")), 8) << line.toStdString();
      lines << line.mid(11);
    }
    return lines;
  }
  bool WaitForLog(const QString& line) {
    return ProcessUntil([&] { return Log().contains(line); });
  }
  // Connect through the user dialog, with |act| done on it before OK.
  void Connect(const std::function<void(QWidget*)>& act = {}) {
    OnNextModal([act](QWidget* dialog) {
      if (act) act(dialog);
      Child<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
    });
    frame_->connectAction()->trigger();
  }
  bool WaitDisconnected() {
    return ProcessUntil([&] { return !client_->connected() && Log().contains(kTcpClosed); });
  }
  QTreeWidget* Playlist() { return Child<QTreeWidget>(frame_->view(), "playlist"); }
  void ExpectConnectedCommands(bool connected) {
    frame_->UpdateCommands();
    EXPECT_EQ(frame_->connectAction()->isEnabled(), !connected);
    EXPECT_EQ(frame_->serverPropertiesAction()->isEnabled(), !connected);
    EXPECT_EQ(frame_->disconnectAction()->isEnabled(), connected);
  }

  const std::filesystem::path previous_ = std::filesystem::current_path();
  const std::filesystem::path start_ = dir_.path() / "client";
  MessageRecorder messages_;
  RecordingLauncher launcher_;
  std::unique_ptr<ClientRunner> client_;
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(ClientWindowTest, LoginShowsThePlaylistThenCommandsAndDisconnect) {
  StartServer();
  ExpectConnectedCommands(false);
  Connect();
  ASSERT_TRUE(WaitForLog(QStringLiteral("[UDP] Playlist changed")))
      << Log().join('|').toStdString();
  ASSERT_TRUE(ProcessUntil([&] { return Playlist()->topLevelItemCount() == 2; }));
  ASSERT_TRUE(WaitForLog(TcpLog(kLoginAccepted))) << Log().join('|').toStdString();
  // Once logged in, the client asks for the server's key, which this server does not have; those
  // two lines may come before or after the announcement's.
  const QString noKey = QStringLiteral("[KEY] The server has no key: files are not authenticated");
  ASSERT_TRUE(WaitForLog(noKey));
  const auto withoutKeyLines = [&] {
    QStringList lines = Log();
    EXPECT_EQ(lines.removeAll(QStringLiteral("[SEND] KEY")), 1);
    EXPECT_EQ(lines.removeAll(noKey), 1);
    return lines;
  };
  const QStringList head = withoutKeyLines().mid(0, 6);
  EXPECT_EQ(head.mid(0, 3),
            QStringList({"[INFO] Try to connect", "[INFO] You are connected",
                         "[SEND] LOGIN\tann\tpw\t127.0.0.1\t666"}));
  // The reply and the announcement travel on different sockets: either may come first.
  const QStringList rest = head.mid(3);
  const auto changed = rest.indexOf(QStringLiteral("[UDP] Playlist changed"));
  ASSERT_GE(changed, 0) << head.join('|').toStdString();
  EXPECT_EQ(rest.value(changed + 1), QStringLiteral("[UDP] PLAYLIST\ta.mp3\tann\tb.wav\tann"));
  EXPECT_TRUE(rest.contains(TcpLog(kLoginAccepted))) << head.join('|').toStdString();
  ExpectConnectedCommands(true);

  // Without a selected row nothing is sent.
  Child<QPushButton>(frame_->view(), "whois")->click();
  Child<QPushButton>(frame_->view(), "fileInfos")->click();
  EXPECT_EQ(withoutKeyLines().mid(6), QStringList({"No item selected", "No item selected"}));

  Playlist()->setCurrentItem(Playlist()->topLevelItem(0));
  Child<QPushButton>(frame_->view(), "whois")->click();
  auto* infos = Child<QPlainTextEdit>(frame_->view(), "infos");
  ASSERT_TRUE(ProcessUntil([&] { return infos->toPlainText().startsWith("Login : \t\tann\n"); }));
  EXPECT_TRUE(Log().contains("[SEND] WHOIS\tann"));
  Child<QPushButton>(frame_->view(), "fileInfos")->click();
  ASSERT_TRUE(WaitForLog(QStringLiteral("[SEND] FILEINFO\ta.mp3\tann")));
  ASSERT_TRUE(ProcessUntil([&] { return !infos->toPlainText().startsWith("Login"); }));

  // Send Comm.: spaces become TABs, so the server sees separate fields.
  OnNextModal([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "command")->insert(QStringLiteral("WHOIS nobody"));
    Child<QPushButton>(*dialog, "send")->click();
  });
  Child<QPushButton>(frame_->view(), "sendCommand")->click();
  ASSERT_TRUE(WaitForLog(TcpLog(kUnknownUser)));
  EXPECT_TRUE(Log().contains("[SEND] WHOIS\tnobody"));
  // An empty text is not sent.
  const int lines = static_cast<int>(Log().size());
  OnNextModal([](QWidget* dialog) { Child<QPushButton>(*dialog, "send")->click(); });
  Child<QPushButton>(frame_->view(), "sendCommand")->click();
  // Spaces alone become empty fields, which the server does not know.
  OnNextModal([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "command")->insert(QStringLiteral("  "));
    Child<QPushButton>(*dialog, "send")->click();
  });
  Child<QPushButton>(frame_->view(), "sendCommand")->click();
  ASSERT_TRUE(WaitForLog(TcpLog(kUnknownCommand)));
  EXPECT_EQ(Log().mid(lines), QStringList({"[SEND] \t\t", TcpLog(kUnknownCommand)}));

  frame_->view().show();
  frame_->show();
  frame_->resize(760, 620);
  Screenshot(*frame_, "client-main-window.png");

  frame_->disconnectAction()->trigger();
  ASSERT_TRUE(WaitDisconnected());
  QStringList tail = Log().mid(lines + 2);
  EXPECT_EQ(tail, QStringList({"[SEND] LOGOUT\tann", kUdpClosed, kTcpClosed}));
  ExpectConnectedCommands(false);

  // The rows stay after the session; commands are refused.
  EXPECT_EQ(Playlist()->topLevelItemCount(), 2);
  Playlist()->setCurrentItem(Playlist()->topLevelItem(1));
  Child<QPushButton>(frame_->view(), "whois")->click();
  EXPECT_EQ(Log().back(), QStringLiteral("[ERROR] You are not connected"));
  EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(ClientWindowTest, RefusedLoginLogsNoReplyAndConnectIsOfferedAgain) {
  StartServer();
  Connect([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "password")->setText(QStringLiteral("wrong"));
  });
  ASSERT_TRUE(WaitDisconnected());
  const QStringList log = Log();
  EXPECT_EQ(log.mid(0, 3), QStringList({"[INFO] Try to connect", "[INFO] You are connected",
                                        "[SEND] LOGIN\tann\twrong\t127.0.0.1\t666"}));
  EXPECT_TRUE(log.contains(kUdpClosed));
  EXPECT_FALSE(log.contains(TcpLog(kLoginRefused)));
  EXPECT_EQ(frame_->config().pass, "wrong");
  ExpectConnectedCommands(false);
}

TEST_F(ClientWindowTest, UnreachableServerLogsTheTcpProblemAndBothDisconnections) {
  frame_->config().serverPort = UnusedTcpPort();
  Connect();
  ASSERT_TRUE(WaitDisconnected());
  EXPECT_EQ(Log(),
            QStringList({"[INFO] Try to connect", "[ERROR] problem TCP", kUdpClosed, kTcpClosed}));
  ExpectConnectedCommands(false);
}

TEST_F(ClientWindowTest, NewUserRegistersWithDashesAndNeitherBoxOpensNoSession) {
  StartServer();
  Connect([](QWidget* dialog) {
    Child<QCheckBox>(*dialog, "existingUser")->click();  // both unticked
    Child<QLineEdit>(*dialog, "login")->setText(QStringLiteral("carl"));
  });
  EXPECT_FALSE(client_->connected());
  EXPECT_EQ(frame_->config().login, "carl");
  EXPECT_TRUE(Log().isEmpty());

  Connect([](QWidget* dialog) {
    Child<QCheckBox>(*dialog, "newUser")->click();
    Child<QLineEdit>(*dialog, "login")->setText(QStringLiteral("bob"));
    Child<QLineEdit>(*dialog, "password")->setText(QStringLiteral("pw2"));
    Child<QLineEdit>(*dialog, "rePassword")->setText(QStringLiteral("pw2"));
    Child<QLineEdit>(*dialog, "name")->setText(QStringLiteral("Bob"));
  });
  ASSERT_TRUE(WaitForLog(TcpLog(kRegistered))) << Log().join('|').toStdString();
  EXPECT_TRUE(Log().contains("[SEND] REGISTER\tbob\tpw2\tBob\t---\t127.0.0.1\t666"));
  const std::optional<CUserInfo> bob = User("bob");
  ASSERT_TRUE(bob.has_value());
  EXPECT_EQ(bob->lastName(), "---");
}

TEST_F(ClientWindowTest, SettingsCommandsChangeMemoryAndSaveWritesTheStartFolder) {
  const std::string ini = (start_ / "client.ini").string();
  EXPECT_NE(ReadFile(ini).find("serverPort"), std::string::npos);  // written at first start
  OnNextModal([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "parametersPort")->setText(QStringLiteral("1660"));
    Child<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
  });
  frame_->serverPropertiesAction()->trigger();
  EXPECT_EQ(frame_->config().serverPort, 1660);
  EXPECT_EQ(ReadFile(ini).find("1660"), std::string::npos);

  PickerScript picker(QString::fromStdString((dir_.path() / "music").string()));
  OnNextModal([](QWidget* dialog) {
    Child<QPushButton>(*dialog, "browse")->click();
    Child<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
  });
  frame_->foldersAction()->trigger();
  EXPECT_EQ(frame_->config().downloadDirectory, (dir_.path() / "music").string() + "/");
  EXPECT_EQ(client_->settings().DownloadDirectory(), frame_->config().downloadDirectory);

  OnNextModal([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "extension")->setText(QStringLiteral("mp3"));
    Child<QLineEdit>(*dialog, "program")->setText(QStringLiteral("/opt/player"));
    Child<QPushButton>(*dialog, "add")->click();
    Child<QPushButton>(*dialog, "cancel")->click();
  });
  frame_->fileAssociationAction()->trigger();
  EXPECT_EQ(client_->settings().Associations(),
            (std::vector<FileAssociation>{{"mp3", "/opt/player"}}));

  OnNextModal([](QWidget* dialog) {
    Child<QLineEdit>(*dialog, "login")->setText(QStringLiteral("zoe"));
    Child<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
  });
  frame_->userPropertiesAction()->trigger();
  EXPECT_EQ(frame_->config().login, "zoe");
  EXPECT_FALSE(client_->connected());

  std::filesystem::current_path(dir_.path());  // as a file dialog might
  frame_->saveParametersAction()->trigger();
  EXPECT_EQ(std::filesystem::current_path(), start_);
  const std::string saved = ReadFile(ini);
  EXPECT_NE(saved.find("1660"), std::string::npos);
  EXPECT_NE(saved.find("zoe"), std::string::npos);
  EXPECT_NE(saved.find("/opt/player"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "client.ini"));
  EXPECT_EQ(Log(), QStringList({"[SAVE] Parameters saved"}));
}

TEST_F(ClientWindowTest, MenusTitleHelpAndAbout) {
  QStringList menus;
  for (QAction* menu : frame_->menuBar()->actions()) menus << menu->text();
  EXPECT_EQ(menus, QStringList({"&File", "&Server", "&User", "&Options", "&Display", "&?"}));
  EXPECT_FALSE(frame_->menuBar()->actions()[2]->isEnabled());
  EXPECT_EQ(frame_->connectAction()->statusTip(), QStringLiteral("Connect to the server"));
  EXPECT_EQ(frame_->disconnectAction()->statusTip(), QStringLiteral("Disconect from the server"));
  EXPECT_EQ(frame_->aboutAction()->shortcut(), QKeySequence(Qt::Key_F1));
  EXPECT_TRUE(frame_->helpAction()->shortcut().isEmpty());
  EXPECT_EQ(frame_->userPropertiesAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_U));
  QStringList status;
  // The reception progress has labels of its own, in its widget.
  for (const QLabel* label :
       frame_->statusBar()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
    status << label->text();
  }
  EXPECT_EQ(status, QStringList({"Prêt", "MAJ", "NUM", "DEF"}));
  EXPECT_TRUE(frame_->receptionProgress().isHidden());
  QStringList display;
  for (QAction* entry : frame_->menuBar()->actions()[4]->menu()->actions()) {
    display << entry->text() + " / " + entry->statusTip();
  }
  EXPECT_EQ(display, QStringList({"&Tool Bar / Show or hide the tool bar",
                                  "&Status Bar / Show or hide the status bar"}));
  frame_->menuBar()->actions()[4]->menu()->actions()[1]->trigger();
  EXPECT_TRUE(frame_->statusBar()->isHidden());

  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Palvoro - Client"));
  FixedResolver unresolved(false);
  frame_->ShowHostTitle(unresolved);
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Palvoro - Client"));
  FixedResolver resolved(true);
  frame_->ShowHostTitle(resolved);
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("ZENTALO Client - studio - 192.168.1.10"));

  // Help opens Client.hlp from the start folder, or says it can't.
  frame_->helpAction()->trigger();
  EXPECT_EQ(messages_.messages().size(), 1u);
  WriteFile(start_ / "Client.hlp", "help");
  frame_->helpAction()->trigger();
  EXPECT_EQ(
      launcher_.Launches(),
      (std::vector<RecordingLauncher::Started>{{"open", {(start_ / "Client.hlp").string()}}}));

  // F1 opens the About box; Ctrl+U the user properties although their menu is grayed; Ctrl+A
  // the associations even from a text field, where it would select all.
  frame_->show();
  frame_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
  QStringList titles;
  const auto close = [&titles](QWidget* dialog) {
    titles << dialog->windowTitle();
    static_cast<QDialog*>(dialog)->reject();
  };
  OnNextModal(close);
  QTest::keyClick(frame_.get(), Qt::Key_F1);
  frame_->activateWindow();  // the offscreen platform gives it back only when asked
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
  OnNextModal(close);
  QTest::keyClick(frame_.get(), Qt::Key_U, Qt::ControlModifier);
  frame_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
  auto* description = Child<QLineEdit>(frame_->view(), "description");
  description->setText(QStringLiteral("holiday"));
  description->setFocus();
  OnNextModal(close);
  QTest::keyClick(description, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(titles, QStringList({"About Palvoro", "User properties", "File Association"}));
  EXPECT_FALSE(description->hasSelectedText());
}

}  // namespace
}  // namespace ondavox::test
