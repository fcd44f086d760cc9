#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/Trace.h"
#include "server/admin/CAddFileDlg.h"
#include "server/admin/CManageDocumentsDlg.h"
#include "server/admin/CManagePlayListDlg.h"
#include "server/admin/CManageUsersDlg.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/control/ControlChannel.h"
#include "server/net/ServerDataAccess.h"
#include "tests/platform/ui/GuiTestSupport.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/server/app/RecordingLog.h"
#include "tests/server/control/ChannelClient.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

using Message = MessageRecorder::Message;

// A document in a temporary folder, with an Fcast sender that sends nothing.
class AdminDialogTest : public testing::Test {
 protected:
  AdminDialogTest() {
    EnsureApplication();
    document_ = std::make_unique<COndavoxDoc>(dir_.path().string(), FactoryOf(sender_));
    EXPECT_TRUE(document_->Load().ok());
    document_->SetLog(&log_);
  }
  ~AdminDialogTest() override {
    document_->SetLog(nullptr);
    document_.reset();
  }

  void AddUser(const std::string& login, int online, const std::string& ip = "") {
    ServerDataAccess access(document_->runner());
    auto user = std::make_unique<CUserInfo>(login, "pw-" + login, "Name " + login,
                                            "Surname " + login, 0, online, ip, 0);
    ASSERT_TRUE(document_->users().Add(user));
    document_->RefreshLoginLists();
  }
  void AddDocument(const std::string& fileName, const std::string& description) {
    ServerDataAccess access(document_->runner());
    auto record = std::make_unique<CDocInfo>(fileName, "root", dir_.File(fileName), "unknown", 0, 1,
                                             description);
    ASSERT_TRUE(document_->documents().Add(record));
  }
  void ExpectMessage(const QString& text, const QString& title, MessageIcon icon) {
    ASSERT_FALSE(messages_.messages().empty()) << text.toStdString();
    const Message& last = messages_.messages().back();
    EXPECT_EQ(last.text, text);
    EXPECT_EQ(last.title, title);
    EXPECT_EQ(last.icon, icon);
  }
  static QStringList Items(const QListWidget& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) items << list.item(i)->text();
    return items;
  }
  static QStringList Row(const QTreeWidget& tree, int row) {
    QStringList cells;
    const QTreeWidgetItem* item = tree.topLevelItem(row);
    for (int c = 0; item != nullptr && c < item->columnCount(); ++c) cells << item->text(c);
    return cells;
  }
  static void Select(QTreeWidget& tree, int row) {
    tree.clearSelection();
    tree.topLevelItem(row)->setSelected(true);
  }

  TempDir dir_;
  MessageRecorder messages_;
  RecordingLog log_;
  std::shared_ptr<FakeFcastSender> sender_ = std::make_shared<FakeFcastSender>();
  std::unique_ptr<COndavoxDoc> document_;
};

// --- Manage Users ---------------------------------------------------------------------------

TEST_F(AdminDialogTest, UsersDialogListsBothGroupsSortedWithTheirCounts) {
  AddUser("zoe", 1);
  AddUser("bob", 0, "10.0.0.9");
  AddUser("amy", 1);
  CManageUsersDlg dialog(nullptr, *document_);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Manage Users"));
  EXPECT_EQ(Items(*Child<QListWidget>(dialog, "loggedIn")), (QStringList{"amy", "zoe"}));
  EXPECT_EQ(Items(*Child<QListWidget>(dialog, "loggedOut")), QStringList{"bob"});
  EXPECT_EQ(Child<QLabel>(dialog, "loggedInCount")->text(), QStringLiteral("2 users"));
  EXPECT_EQ(Child<QLabel>(dialog, "loggedOutCount")->text(), QStringLiteral("1 users"));

  // Selecting a login shows its record; focusing the other list drops that selection.
  auto* loggedOut = Child<QListWidget>(dialog, "loggedOut");
  loggedOut->item(0)->setSelected(true);
  EXPECT_EQ(Child<QLineEdit>(dialog, "login")->text(), QStringLiteral("bob"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "name")->text(), QStringLiteral("Name bob"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "surname")->text(), QStringLiteral("Surname bob"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "password")->text(), QStringLiteral("pw-bob"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "lastIp")->text(), QStringLiteral("10.0.0.9"));
  EXPECT_FALSE(Child<QLineEdit>(dialog, "lastIp")->isEnabled());
  dialog.show();
  Child<QListWidget>(dialog, "loggedIn")->setFocus();
  QCoreApplication::processEvents();
  EXPECT_TRUE(loggedOut->selectedItems().isEmpty());

  Child<QPushButton>(dialog, "clear")->click();
  for (const char* field : {"login", "name", "surname", "password", "lastIp"}) {
    EXPECT_TRUE(Child<QLineEdit>(dialog, field)->text().isEmpty()) << field;
  }
  EXPECT_FALSE(Child<QCheckBox>(dialog, "banned")->isChecked());
}

TEST_F(AdminDialogTest, AddUserRefusesEmptyAndTakenLoginsAndSavesEachNewUser) {
  AddUser("bob", 1);
  CManageUsersDlg dialog(nullptr, *document_);
  auto* add = Child<QPushButton>(dialog, "addUser");
  add->click();
  ExpectMessage("Specify a login for the user.", "Add User", MessageIcon::kWarning);
  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("bob"));
  add->click();
  ExpectMessage("Login is already used by another user.", "Add User", MessageIcon::kWarning);
  EXPECT_EQ(messages_.messages().size(), 2u);

  // Logins that differ only in case are different users.
  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("Bob"));
  Child<QLineEdit>(dialog, "name")->setText(QStringLiteral("Robert"));
  Child<QLineEdit>(dialog, "password")->setText(QStringLiteral("s3cret"));
  Child<QCheckBox>(dialog, "banned")->setChecked(true);
  add->click();
  EXPECT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(Items(*Child<QListWidget>(dialog, "loggedOut")), QStringList{"Bob"});
  EXPECT_EQ(Child<QLabel>(dialog, "loggedOutCount")->text(), QStringLiteral("1 users"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "login")->text(), QStringLiteral("Bob"));  // kept

  UserDatabase saved(dir_.File("UserDB.dat"));
  ASSERT_TRUE(saved.Load().ok());
  ASSERT_NE(saved.Find("Bob"), nullptr);
  EXPECT_EQ(saved.Find("Bob")->password(), "s3cret");
  EXPECT_EQ(saved.Find("Bob")->banned(), 1);
  EXPECT_EQ(saved.Find("bob")->online(), 0);  // the file never says anyone is online
}

TEST_F(AdminDialogTest, ApplyChangesKeepsTheLoginAndSavesAndDeleteRemovesAndSaves) {
  AddUser("bob", 0);
  CManageUsersDlg dialog(nullptr, *document_);
  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("nobody"));
  Child<QPushButton>(dialog, "applyChanges")->click();
  ExpectMessage("User unknow", "Edit Unknow User", MessageIcon::kWarning);

  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("bob"));
  Child<QLineEdit>(dialog, "surname")->setText(QStringLiteral("Marley"));
  Child<QLineEdit>(dialog, "lastIp")->setText(QStringLiteral("10.1.1.1"));
  Child<QPushButton>(dialog, "applyChanges")->click();
  EXPECT_EQ(messages_.messages().size(), 1u);
  {
    UserDatabase saved(dir_.File("UserDB.dat"));
    ASSERT_TRUE(saved.Load().ok());
    ASSERT_NE(saved.Find("bob"), nullptr);
    EXPECT_EQ(saved.Find("bob")->lastName(), "Marley");
    EXPECT_EQ(saved.Find("bob")->ipAddress(), "10.1.1.1");
  }

  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("nobody"));
  Child<QPushButton>(dialog, "deleteUser")->click();
  ExpectMessage("Unknow user.\nDelete user progress abort.", "Add User", MessageIcon::kWarning);
  Child<QLineEdit>(dialog, "login")->setText(QStringLiteral("bob"));
  Child<QPushButton>(dialog, "deleteUser")->click();
  ExpectMessage("User bob has been removed from database.", "Add User", MessageIcon::kNone);
  EXPECT_TRUE(Items(*Child<QListWidget>(dialog, "loggedOut")).isEmpty());
  EXPECT_EQ(Child<QLabel>(dialog, "loggedOutCount")->text(), QStringLiteral("0 users"));
  UserDatabase saved(dir_.File("UserDB.dat"));
  ASSERT_TRUE(saved.Load().ok());
  EXPECT_EQ(saved.Find("bob"), nullptr);
}

TEST_F(AdminDialogTest, LoginEventsFromAnotherThreadRefreshTheOpenUsersDialog) {
  AddUser("bob", 0);
  CManageUsersDlg dialog(nullptr, *document_);
  std::thread session([this] {
    {
      ServerDataAccess access(document_->runner());
      document_->users().Find("bob")->SetOnline(1);
    }
    document_->runner().PostEvent(ServerEvent(USER_ONLINE, {"bob"}));
  });
  session.join();
  ASSERT_TRUE(ProcessUntil(
      [&] { return Items(*Child<QListWidget>(dialog, "loggedIn")) == QStringList{"bob"}; }));
  EXPECT_EQ(Child<QLabel>(dialog, "loggedOutCount")->text(), QStringLiteral("0 users"));
  EXPECT_EQ(log_.Lines(), std::vector<std::string>{"New client logged : bob"});
}

TEST_F(AdminDialogTest, AChangeThroughTheChannelShowsInTheOpenUsersDialog) {
  ServerAdministration admin(*document_);
  ControlChannel channel(*document_, {[&admin] { return admin.StartServer(); },
                                      [&admin] { return admin.StopServer(); }});
  ASSERT_TRUE(channel.Open(dir_.File("ondavox.sock")).ok());
  CManageUsersDlg dialog(nullptr, *document_);
  ChannelClient client(dir_.File("ondavox.sock"));
  EXPECT_EQ(client.Request({{"command", "user-add"}, {"login", "carol"}}).value("ok", false), true);
  EXPECT_TRUE(ProcessUntil(
      [&] { return Items(*Child<QListWidget>(dialog, "loggedOut")) == QStringList{"carol"}; }));
}

// --- Manage Documents and Add File ----------------------------------------------------------

TEST_F(AdminDialogTest, AddFileDialogWantsAFileThenADescription) {
  CAddFileDlg dialog(nullptr);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add File to Database"));
  EXPECT_TRUE(Child<QCheckBox>(dialog, "persistent")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>(dialog, "streamable")->isChecked());
  Child<QPushButton>(dialog, "ok")->click();
  ExpectMessage("You must select a file to add.", "Error Adding File", MessageIcon::kWarning);

  PickerScript picker(QString::fromStdString(dir_.File("missing.avi")));
  dialog.SetStartFolder("/srv/upload/");
  Child<QPushButton>(dialog, "browse")->click();
  EXPECT_TRUE(Child<QLineEdit>(dialog, "file")->text().isEmpty());  // could not be opened
  EXPECT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(picker.requests().front().startFolder, QStringLiteral("/srv/upload/"));
  EXPECT_EQ(picker.requests().front().filter, QStringLiteral("All Files (*.*)|*.*||"));

  WriteFile(dir_.path() / "clip.avi", "data");
  picker.Answer(QString::fromStdString(dir_.File("clip.avi")));
  Child<QPushButton>(dialog, "browse")->click();
  EXPECT_EQ(Child<QLineEdit>(dialog, "file")->text().toStdString(), dir_.File("clip.avi"));
  EXPECT_EQ(dialog.fileName(), "clip.avi");
  EXPECT_EQ(dialog.fullPath(), dir_.File("clip.avi"));
  Child<QPushButton>(dialog, "ok")->click();
  ExpectMessage("You must specify a description to the file.", "Error Adding File",
                MessageIcon::kWarning);
}

TEST_F(AdminDialogTest, DocumentsDialogAddsModifiesAndDeletesSavingTheFileEachTime) {
  WriteFile(dir_.path() / "clip.avi", "data");
  PickerScript picker(QString::fromStdString(dir_.File("clip.avi")));
  CManageDocumentsDlg dialog(nullptr, *document_, PickerMode::Manage);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Manage Documents"));
  EXPECT_FALSE(Child<QPushButton>(dialog, "ok")->isVisibleTo(&dialog));
  EXPECT_TRUE(Child<QPushButton>(dialog, "deleteDocument")->isEnabled());
  EXPECT_EQ(Child<QPushButton>(dialog, "modify")->text(), QStringLiteral("&Mofify"));
  auto* tree = Child<QTreeWidget>(dialog, "documents");
  EXPECT_EQ(tree->headerItem()->text(1), QStringLiteral("Relative Path"));

  const auto addClip = [&] {
    OnNextModal([](QWidget* add) {
      Child<QPushButton>(*add, "browse")->click();
      Child<QLineEdit>(*add, "description")->setText(QStringLiteral("Holiday clip"));
      Child<QPushButton>(*add, "ok")->click();
    });
    Child<QPushButton>(dialog, "add")->click();
  };
  addClip();
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  const QString path = QString::fromStdString(dir_.File("clip.avi"));
  EXPECT_EQ(Row(*tree, 0),
            (QStringList{"root", path, "clip.avi", "Holiday clip", "unknown", "No", "Yes"}));
  EXPECT_TRUE(messages_.messages().empty());
  addClip();  // the same file again
  ExpectMessage("pb : peut-ête déjà inséré dns la database", "pb", MessageIcon::kNone);
  EXPECT_EQ(tree->topLevelItemCount(), 1);

  Child<QLineEdit>(dialog, "description")->setText(QStringLiteral("ignored"));
  Child<QPushButton>(dialog, "modify")->click();  // no row selected
  EXPECT_EQ(Row(*tree, 0)[3], QStringLiteral("Holiday clip"));
  Select(*tree, 0);
  EXPECT_EQ(Child<QLineEdit>(dialog, "description")->text(), QStringLiteral("Holiday clip"));
  EXPECT_TRUE(Child<QCheckBox>(dialog, "persisting")->isChecked());
  Child<QLineEdit>(dialog, "description")->setText(QStringLiteral("Summer"));
  Child<QCheckBox>(dialog, "streamable")->setChecked(true);
  Child<QCheckBox>(dialog, "persisting")->setChecked(false);
  Child<QPushButton>(dialog, "modify")->click();
  EXPECT_EQ(Row(*tree, 0),
            (QStringList{"root", path, "clip.avi", "Summer", "unknown", "Yes", "No"}));
  {
    DocumentDatabase saved(dir_.File("DocumentDB.dat"));
    ASSERT_TRUE(saved.Load().ok());
    const CDocInfo* record = saved.Find("rootclip.avi");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->description(), "Summer");
    EXPECT_EQ(record->streamable(), 1);
    EXPECT_EQ(record->persisting(), 0);
  }

  Child<QPushButton>(dialog, "deleteDocument")->click();
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  DocumentDatabase saved(dir_.File("DocumentDB.dat"));
  ASSERT_TRUE(saved.Load().ok());
  EXPECT_EQ(saved.GetStore().GetCount(), 0u);
}

TEST_F(AdminDialogTest, PickerModeWantsASelectionAndHandsBackACopy) {
  AddDocument("a.mp3", "first");
  AddDocument("b.mp3", "second");
  CManageDocumentsDlg dialog(nullptr, *document_, PickerMode::PickForPlaylist);
  EXPECT_TRUE(Child<QPushButton>(dialog, "ok")->isVisibleTo(&dialog));
  EXPECT_FALSE(Child<QPushButton>(dialog, "deleteDocument")->isEnabled());
  dialog.show();
  Child<QPushButton>(dialog, "ok")->click();
  ExpectMessage("You have to select a file in the file list.", "PlayList add file",
                MessageIcon::kWarning);
  EXPECT_TRUE(dialog.isVisible());

  Select(*Child<QTreeWidget>(dialog, "documents"), 1);
  Child<QPushButton>(dialog, "ok")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.resultRecord().fileName(), "b.mp3");
  EXPECT_EQ(dialog.resultRecord().description(), "second");
}

TEST_F(AdminDialogTest, PickingADocumentThatVanishedReportsItAndCancels) {
  AddDocument("a.mp3", "first");
  CManageDocumentsDlg dialog(nullptr, *document_, PickerMode::PickForPlaylist);
  {
    ServerDataAccess access(document_->runner());
    document_->documents().Remove("roota.mp3");
  }
  Select(*Child<QTreeWidget>(dialog, "documents"), 0);
  Child<QPushButton>(dialog, "ok")->click();
  ExpectMessage("Unknow file a.mp3", "Database Error", MessageIcon::kNone);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// --- Manage Play List -----------------------------------------------------------------------

class PlaylistDialogTest : public AdminDialogTest {
 protected:
  void SetUp() override {
    previousTrace_ = SetTraceSink([this](std::string_view line) {
      if (line == "ServerRunner::SendPlaylist() [ENTER]") ++announcements_;
    });
  }
  void TearDown() override { SetTraceSink(previousTrace_); }

  void Enqueue(const std::string& fileName) {
    document_->GetPlaylist().AddTail(
        CDocInfo(fileName, "root", dir_.File(fileName), "unknown", 0, 1, "about " + fileName));
  }
  QStringList Files(const QTreeWidget& tree) {
    QStringList files;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) files << tree.topLevelItem(i)->text(0);
    return files;
  }
  // Chooses row |row| in the documents picker that "..." opens.
  void Choose(CManagePlayListDlg& dialog, int row) {
    OnNextModal([row](QWidget* picker) {
      auto* tree = Child<QTreeWidget>(*picker, "documents");
      tree->topLevelItem(row)->setSelected(true);
      Child<QPushButton>(*picker, "ok")->click();
    });
    Child<QPushButton>(dialog, "browse")->click();
  }

  std::atomic<int> announcements_{0};
  OutputSink previousTrace_;
};

TEST_F(PlaylistDialogTest, UpDownAndDeleteReorderTheQueueWithoutAnnouncingWhileStopped) {
  Enqueue("a.mp3");
  Enqueue("b.mp3");
  Enqueue("c.mp3");
  CManagePlayListDlg dialog(nullptr, *document_);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Manage Play List"));
  auto* tree = Child<QTreeWidget>(dialog, "playlist");
  EXPECT_EQ(Row(*tree, 0), (QStringList{"a.mp3", "root", "about a.mp3"}));

  Select(*tree, 0);
  Child<QPushButton>(dialog, "up")->click();  // the first row stays first
  EXPECT_EQ(Files(*tree), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
  Select(*tree, 2);
  Child<QPushButton>(dialog, "down")->click();  // the last row stays last, still selected
  EXPECT_EQ(Files(*tree), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
  EXPECT_TRUE(tree->topLevelItem(2)->isSelected());
  Child<QPushButton>(dialog, "up")->click();
  EXPECT_EQ(Files(*tree), (QStringList{"a.mp3", "c.mp3", "b.mp3"}));
  EXPECT_TRUE(tree->topLevelItem(1)->isSelected());
  Child<QPushButton>(dialog, "deleteEntry")->click();
  EXPECT_EQ(Files(*tree), (QStringList{"a.mp3", "b.mp3"}));
  EXPECT_EQ(document_->GetPlaylist().GetCount(), 2);
  EXPECT_EQ(document_->GetPlaylist().GetAt(1)->fileName(), "b.mp3");
  EXPECT_EQ(announcements_, 0);
}

TEST_F(PlaylistDialogTest, EnqueueTakesOneChoiceAndCancellingThePickerOnlyEmptiesTheFields) {
  AddDocument("a.mp3", "first");
  AddDocument("b.mp3", "second");
  CManagePlayListDlg dialog(nullptr, *document_);
  auto* enqueue = Child<QPushButton>(dialog, "enqueue");
  EXPECT_FALSE(enqueue->isEnabled());
  Choose(dialog, 1);
  EXPECT_EQ(Child<QLineEdit>(dialog, "file")->text(), QStringLiteral("b.mp3"));
  EXPECT_EQ(Child<QLineEdit>(dialog, "description")->text(), QStringLiteral("second"));
  EXPECT_TRUE(enqueue->isEnabled());

  OnNextModal([](QWidget* picker) { Child<QPushButton>(*picker, "close")->click(); });
  Child<QPushButton>(dialog, "browse")->click();
  EXPECT_TRUE(Child<QLineEdit>(dialog, "file")->text().isEmpty());
  EXPECT_TRUE(enqueue->isEnabled());

  enqueue->click();
  EXPECT_FALSE(enqueue->isEnabled());
  EXPECT_TRUE(Child<QLineEdit>(dialog, "description")->text().isEmpty());
  Choose(dialog, 1);
  enqueue->click();
  EXPECT_EQ(Files(*Child<QTreeWidget>(dialog, "playlist")), (QStringList{"b.mp3", "b.mp3"}));
  EXPECT_EQ(announcements_, 0);
}

TEST_F(PlaylistDialogTest, EnqueueWhileRunningAnnouncesWakesTheSenderAndTheSentEntryLeaves) {
  WriteFile(dir_.path() / "a.mp3", std::string(4096, 'a'));
  AddDocument("a.mp3", "first");
  ASSERT_TRUE(document_->Start().ok());
  CManagePlayListDlg dialog(nullptr, *document_);
  Choose(dialog, 0);
  Child<QPushButton>(dialog, "enqueue")->click();
  EXPECT_GE(announcements_, 1);
  EXPECT_EQ(Files(*Child<QTreeWidget>(dialog, "playlist")), QStringList{"a.mp3"});
  ASSERT_TRUE(ProcessUntil([&] { return sender_->filesSent == 1; }));
  // Sent: the Fcast sender removes it and the open dialog and the log follow.
  ASSERT_TRUE(ProcessUntil(
      [&] { return Child<QTreeWidget>(dialog, "playlist")->topLevelItemCount() == 0; }));
  EXPECT_EQ(log_.Lines().back(), "The playlist has been updated.");
  EXPECT_TRUE(document_->Stop().ok());
}

}  // namespace
}  // namespace ondavox::test
