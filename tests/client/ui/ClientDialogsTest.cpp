// The client's dialogs and the main view's commands driven through their widgets, offscreen,
// without a server.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <thread>

#include "client/core/ClientRunner.h"
#include "client/ui/CAboutDlg.h"
#include "client/ui/CClientView.h"
#include "client/ui/CFileAssociationDlg.h"
#include "client/ui/CFoldersDlg.h"
#include "client/ui/CSendCommandDlg.h"
#include "client/ui/CServerPropertiesDlg.h"
#include "client/ui/CUserPropertiesDlg.h"
#include "client/ui/ReceptionProgress.h"
#include "platform/ui/FilePickers.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/client/ui/QtPrinters.h"
#include "tests/platform/ui/GuiTestSupport.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::client;
namespace {

void ClickOk(QDialog& dialog) {
  Child<QDialogButtonBox>(dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
}

QLineEdit* Field(QWidget& parent, const char* name) { return Child<QLineEdit>(parent, name); }

void Retype(QLineEdit* field, const QString& text) {
  field->selectAll();
  field->insert(text);
}

class ClientDialogTest : public testing::Test {
 protected:
  ClientDialogTest() { EnsureApplication(); }
  MessageRecorder messages_;
};

// The status bar's reception progress follows the receiver object on its timer: shown with
// the file's name, percent and rate while a file comes in, hidden between files.
TEST_F(ClientDialogTest, ReceptionProgressShowsTheFileComingInAndHidesBetweenFiles) {
  auto receiver = std::make_shared<FakeReceiverObject>();
  QWidget bar;
  auto& progress = *new ReceptionProgress(receiver, &bar);
  bar.show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(progress.isHidden());

  receiver->SetProgress({3, "clip.avi", 2'000'000, 420, 1000});
  ASSERT_TRUE(ProcessUntil([&] { return !progress.isHidden(); }));
  EXPECT_EQ(Child<QLabel>(progress, "receptionText")->text(),
            QStringLiteral("Receiving clip.avi: 42%"));
  EXPECT_EQ(Child<QProgressBar>(progress, "receptionBar")->value(), 42);

  receiver->SetProgress({});
  ASSERT_TRUE(ProcessUntil([&] { return progress.isHidden(); }));
  EXPECT_EQ(Child<QLabel>(progress, "receptionText")->text(), QString());

  // A rate once the file has two samples.
  progress.Show(ReceptionFigures{"song.mp3", 5'000'000, 7, 1'800'000});
  EXPECT_FALSE(progress.isHidden());
  EXPECT_EQ(Child<QLabel>(progress, "receptionText")->text(),
            QStringLiteral("Receiving song.mp3: 7%, 1.8 MB/s"));
}

TEST_F(ClientDialogTest, ServerPropertiesRefusesABadPortAndALongGroupThenHandsTheValuesBack) {
  CServerPropertiesDlg dialog;
  dialog.SetValues("10.0.0.5", 2001, 1550, "230.000.000.0001");  // 16 characters, from a file
  EXPECT_EQ(Field(dialog, "groupName")->text(), QStringLiteral("230.000.000.0001"));
  for (const char* name : {"serverIP", "dataPort", "parametersPort", "groupName"}) {
    EXPECT_TRUE(Field(dialog, name)->alignment() & Qt::AlignRight) << name;
  }
  dialog.show();

  Field(dialog, "parametersPort")->clear();
  ClickOk(dialog);
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Tapez un nombre entier."));
  EXPECT_TRUE(dialog.isVisible());
  Field(dialog, "parametersPort")->setText(QStringLiteral("1600"));
  ClickOk(dialog);
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Tapez 15 caractères au maximum."));
  EXPECT_TRUE(dialog.isVisible());

  // Typing stops at 15 characters.
  Field(dialog, "groupName")->clear();
  QLineEdit* group = Field(dialog, "groupName");
  group->setFocus();
  for (QChar c : QStringLiteral("230.100.100.1001")) group->insert(c);
  EXPECT_EQ(group->text(), QStringLiteral("230.100.100.100"));
  Retype(Field(dialog, "serverIP"), QStringLiteral("127.0.0.1"));
  ClickOk(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.serverIP, "127.0.0.1");
  EXPECT_EQ(dialog.multicastPort, 2001);
  EXPECT_EQ(dialog.tcpPort, 1600);
  EXPECT_EQ(dialog.group, "230.100.100.100");
  EXPECT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(Field(dialog, "serverKey")->text(), QStringLiteral("none"));
  dialog.SetValues("10.0.0.5", 2001, 1550, "230.0.0.1", "SHA256:abcd");
  EXPECT_EQ(Field(dialog, "serverKey")->text(), QStringLiteral("SHA256:abcd"));
  EXPECT_TRUE(Field(dialog, "serverKey")->isReadOnly());
}

TEST_F(ClientDialogTest, UserPropertiesConfirmedAtOnceGivesDashesForTheNames) {
  CUserPropertiesDlg dialog;
  dialog.SetUser("ann", "pw");
  EXPECT_TRUE(Child<QCheckBox>(dialog, "existingUser")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>(dialog, "newUser")->isChecked());
  for (const char* name : {"rePassword", "name", "lastName"}) {
    EXPECT_FALSE(Field(dialog, name)->isEnabled()) << name;
  }
  EXPECT_EQ(Field(dialog, "rePassword")->text(), QStringLiteral("pw"));
  EXPECT_EQ(Field(dialog, "password")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Field(dialog, "rePassword")->echoMode(), QLineEdit::Password);
  dialog.show();
  // An existing user never compares the two passwords.
  Field(dialog, "rePassword")->setText(QStringLiteral("other"));
  ClickOk(dialog);
  EXPECT_TRUE(messages_.messages().empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.login, "ann");
  EXPECT_EQ(dialog.password, "pw");
  EXPECT_EQ(dialog.name, "---");
  EXPECT_EQ(dialog.lastName, "---");
  EXPECT_EQ(dialog.existingUser, 1);
  EXPECT_EQ(dialog.newUser, 0);
}

TEST_F(ClientDialogTest, UserPropertiesChecksLoginPasswordAndTheRepeatedPasswordInOrder) {
  CUserPropertiesDlg dialog;
  dialog.SetUser("ann", "pw");
  dialog.show();
  Child<QCheckBox>(dialog, "newUser")->click();
  EXPECT_TRUE(Child<QCheckBox>(dialog, "newUser")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>(dialog, "existingUser")->isChecked());
  for (const char* name : {"login", "password", "rePassword", "name", "lastName"}) {
    EXPECT_TRUE(Field(dialog, name)->text().isEmpty()) << name;
    EXPECT_TRUE(Field(dialog, name)->isEnabled()) << name;
  }
  ClickOk(dialog);
  Field(dialog, "login")->setText(QStringLiteral("bob"));
  ClickOk(dialog);
  Field(dialog, "password")->setText(QStringLiteral("secret"));
  Field(dialog, "rePassword")->setText(QStringLiteral("secreT"));
  Field(dialog, "name")->setText(QStringLiteral("Bob"));
  ClickOk(dialog);
  ASSERT_EQ(messages_.messages().size(), 3u);
  const QStringList expected{"The login you chose is invalid", "You must specify a password",
                             "Password is not the same"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(messages_.messages()[i].text, expected[i]);
    EXPECT_EQ(messages_.messages()[i].title, QStringLiteral("Error"));
    EXPECT_EQ(messages_.messages()[i].icon, MessageIcon::kWarning);
  }
  EXPECT_TRUE(dialog.isVisible());
  // The refused OK has already put the dashes into the empty last name.
  EXPECT_EQ(Field(dialog, "lastName")->text(), QStringLiteral("---"));

  Field(dialog, "rePassword")->setText(QStringLiteral("secret"));
  ClickOk(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.login, "bob");
  EXPECT_EQ(dialog.password, "secret");
  EXPECT_EQ(dialog.name, "Bob");
  EXPECT_EQ(dialog.lastName, "---");
  EXPECT_EQ(dialog.newUser, 1);
  EXPECT_EQ(dialog.existingUser, 0);
}

TEST_F(ClientDialogTest, UserPropertiesBoxesMayBothEndUnticked) {
  CUserPropertiesDlg dialog;
  dialog.SetUser("ann", "pw");
  dialog.show();
  Child<QCheckBox>(dialog, "existingUser")->click();  // unticks the ticked box
  EXPECT_FALSE(Child<QCheckBox>(dialog, "existingUser")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>(dialog, "newUser")->isChecked());
  Child<QCheckBox>(dialog, "newUser")->click();
  Child<QCheckBox>(dialog, "existingUser")->click();
  EXPECT_FALSE(Child<QCheckBox>(dialog, "newUser")->isChecked());
  EXPECT_FALSE(Field(dialog, "name")->isEnabled());
  Child<QCheckBox>(dialog, "existingUser")->click();
  Field(dialog, "login")->setText(QStringLiteral("ann"));
  Field(dialog, "password")->setText(QStringLiteral("pw"));
  ClickOk(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.existingUser, 0);
  EXPECT_EQ(dialog.newUser, 0);
}

TEST_F(ClientDialogTest, UserPropertiesRefusesAPasswordLongerThanSixteenUntilShortened) {
  CUserPropertiesDlg dialog;
  dialog.SetUser("ann", "0123456789abcdefg");  // 17 characters, from a file
  dialog.show();
  ClickOk(dialog);
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Tapez 16 caractères au maximum."));
  EXPECT_TRUE(dialog.isVisible());
  Field(dialog, "password")->setText(QStringLiteral("0123456789abcdef"));
  ClickOk(dialog);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.password, "0123456789abcdef");
  EXPECT_EQ(messages_.messages().size(), 1u);
}

TEST_F(ClientDialogTest, FileAssociationReplacesAtTheEndRemovesBySelectionAndKeepsOnCancel) {
  TempDir dir;
  const std::string player = dir.File("player");
  const std::string viewer = dir.File("viewer");
  WriteFile(player, "#!");
  WriteFile(viewer, "#!");
  std::vector<FileAssociation> list{{"mp3", "/opt/old"}, {"txt", "/opt/edit"}};
  CFileAssociationDlg dialog(list);
  dialog.show();
  auto* rows = Child<QTreeWidget>(dialog, "associations");
  ASSERT_EQ(rows->topLevelItemCount(), 2);
  EXPECT_EQ(rows->headerItem()->text(0), QStringLiteral("Extention"));
  EXPECT_EQ(rows->headerItem()->text(1), QStringLiteral("Program File"));
  EXPECT_EQ(rows->columnWidth(0), 40);
  EXPECT_EQ(rows->columnWidth(1), 200);
  EXPECT_TRUE(Field(dialog, "program")->isReadOnly());

  Child<QPushButton>(dialog, "add")->click();
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Null argument"));
  EXPECT_EQ(messages_.messages().back().title, QStringLiteral("Error"));
  EXPECT_EQ(messages_.messages().back().icon, MessageIcon::kNone);

  PickerScript picker(QString::fromStdString(player));
  Child<QPushButton>(dialog, "browse")->click();
  ASSERT_EQ(picker.requests().size(), 1u);
  EXPECT_EQ(picker.requests()[0].kind, FilePickRequest::Kind::kOpenFile);
  EXPECT_EQ(picker.requests()[0].filter,
            QStringLiteral("Program (*.exe)|*.exe|All files (*.*)|*.*|"));
  EXPECT_EQ(Field(dialog, "program")->text().toStdString(), player);
  Field(dialog, "extension")->setText(QStringLiteral("mp3"));
  Child<QPushButton>(dialog, "add")->click();
  // A file that can't be opened changes nothing.
  picker.Answer(QString::fromStdString(dir.File("missing")));
  Child<QPushButton>(dialog, "browse")->click();
  EXPECT_EQ(Field(dialog, "program")->text().toStdString(), player);
  picker.Answer(QString::fromStdString(viewer));
  Child<QPushButton>(dialog, "browse")->click();
  Field(dialog, "extension")->setText(QStringLiteral("MP3"));  // case counts
  Child<QPushButton>(dialog, "add")->click();
  EXPECT_EQ(list,
            (std::vector<FileAssociation>{{"txt", "/opt/edit"}, {"mp3", player}, {"MP3", viewer}}));
  ASSERT_EQ(rows->topLevelItemCount(), 3);
  EXPECT_EQ(rows->topLevelItem(1)->text(1).toStdString(), player);

  // Remove with no selection removes nothing; with a row selected, every pair of its extension.
  rows->clearSelection();
  Child<QPushButton>(dialog, "remove")->click();
  EXPECT_EQ(list.size(), 3u);
  rows->setCurrentItem(rows->topLevelItem(0));
  emit rows->itemDoubleClicked(rows->topLevelItem(0), 0);
  EXPECT_EQ(Field(dialog, "extension")->text(), QStringLiteral("txt"));
  EXPECT_EQ(Field(dialog, "program")->text(), QStringLiteral("/opt/edit"));
  Child<QPushButton>(dialog, "remove")->click();
  EXPECT_EQ(list, (std::vector<FileAssociation>{{"mp3", player}, {"MP3", viewer}}));
  Child<QPushButton>(dialog, "cancel")->click();
  EXPECT_EQ(list.size(), 2u);
  Screenshot(dialog, "client-file-association.png");
}

TEST_F(ClientDialogTest, FoldersHandBackTheFolderWithOneTrailingSlash) {
  {
    CFoldersDlg dialog;
    dialog.SetDownloadDirectory("/srv/music/");
    EXPECT_TRUE(Field(dialog, "folder")->isReadOnly());
    EXPECT_EQ(Child<QLabel>(dialog, "folderLabel")->text(), QStringLiteral("Donwload directory :"));
    dialog.show();
    ClickOk(dialog);
    EXPECT_EQ(dialog.downloadDirectory, "/srv/music/");
  }
  CFoldersDlg dialog;
  dialog.SetDownloadDirectory("/srv/music/");
  dialog.show();
  PickerScript picker(std::nullopt);
  Child<QPushButton>(dialog, "browse")->click();  // cancelled
  EXPECT_EQ(Field(dialog, "folder")->text(), QStringLiteral("/srv/music/"));
  picker.Answer(QStringLiteral("/home/ann/Music"));
  Child<QPushButton>(dialog, "browse")->click();
  EXPECT_EQ(picker.requests()[1].kind, FilePickRequest::Kind::kFolder);
  EXPECT_EQ(picker.requests()[1].title, QStringLiteral("Select a folder to put recorded files : "));
  Screenshot(dialog, "client-folders.png");
  ClickOk(dialog);
  EXPECT_EQ(dialog.downloadDirectory, "/home/ann/Music/");
}

TEST_F(ClientDialogTest, SendCommandAndAboutBox) {
  CSendCommandDlg send;
  EXPECT_EQ(send.windowTitle(), QStringLiteral("Send Command"));
  send.show();
  EXPECT_TRUE(ProcessUntil([&] { return Field(send, "command")->hasFocus(); }));
  Field(send, "command")->insert(QStringLiteral("WHOIS ann"));
  Screenshot(send, "client-send-command.png");
  Child<QPushButton>(send, "send")->click();
  EXPECT_EQ(send.result(), QDialog::Accepted);
  EXPECT_EQ(send.command, "WHOIS ann");

  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About Palvoro"));
  EXPECT_EQ(Child<QLabel>(about, "version")->text(), QStringLiteral("ZENTALO Client 0.8b"));
  auto* credits = Child<QTextEdit>(about, "credits");
  EXPECT_TRUE(credits->isReadOnly());
  EXPECT_GE(credits->document()->blockCount(), 2);
  EXPECT_EQ(credits->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter,
            Qt::AlignHCenter);
  Screenshot(about, "client-about.png");
}

// The view without a session: the guards and the Upload group.
class ClientViewTest : public ClientDialogTest {
 protected:
  ClientViewTest()
      : runner_(launcher_, [] { return std::make_shared<FakeReceiverObject>(); }), view_(runner_) {}

  QStringList LogLines() {
    QCoreApplication::processEvents();
    const QString text = Child<QPlainTextEdit>(view_, "log")->toPlainText();
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      lines << line.mid(line.indexOf(QStringLiteral(" > ")) + 3);
    }
    return lines;
  }

  RecordingLauncher launcher_;
  ClientRunner runner_;
  CClientView view_;
};

TEST_F(ClientViewTest, CommandsWhileDisconnectedAreRefusedAndRowsFromAnyThreadAppearInOrder) {
  std::thread announcer([this] {
    view_.ReplaceRows({{"a.mp3", "u1"}});
    view_.ReplaceRows({{"a.mp3", "u1"}, {"b.wav", "u2"}});
    view_.SetText("Login : \t\tu1\r\nName : \t\tAnn");
  });
  announcer.join();
  auto* rows = Child<QTreeWidget>(view_, "playlist");
  ASSERT_TRUE(ProcessUntil([&] { return rows->topLevelItemCount() == 2; }));
  EXPECT_EQ(rows->topLevelItem(1)->text(0), QStringLiteral("b.wav"));
  EXPECT_EQ(rows->topLevelItem(1)->text(1), QStringLiteral("u2"));
  EXPECT_EQ(rows->headerItem()->text(0), QStringLiteral("Document"));
  EXPECT_EQ(rows->columnWidth(0), 220);
  EXPECT_EQ(rows->columnWidth(1), 90);
  EXPECT_EQ(Child<QPlainTextEdit>(view_, "infos")->toPlainText(),
            QStringLiteral("Login : \t\tu1\nName : \t\tAnn"));

  rows->setCurrentItem(rows->topLevelItem(0));
  for (const char* button : {"whois", "fileInfos", "sendCommand"}) {
    Child<QPushButton>(view_, button)->click();
  }
  EXPECT_EQ(LogLines(),
            QStringList({"[ERROR] You are not connected", "[ERROR] You are not connected",
                         "[ERROR] You are not connected"}));
}

TEST_F(ClientViewTest, UploadGroupShowsTheFileLengthAndChecksItsFields) {
  TempDir dir;
  const std::string big = dir.File("big.mp3");
  WriteFile(big, std::string(70000, 'x'));
  PickerScript picker(QString::fromStdString(big));
  EXPECT_EQ(Child<QLabel>(view_, "progressText")->text(), QStringLiteral("0 / 0"));
  EXPECT_FALSE(Child<QPushButton>(view_, "send")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>(view_, "cancel")->isEnabled());
  Child<QPushButton>(view_, "browse")->click();
  EXPECT_EQ(picker.requests()[0].filter,
            QStringLiteral(
                "All Media Files|*.wav;*.au;*.mp3;*.mpg|Text (*.txt)|*.txt|All files (*.*)|*.*|"));
  EXPECT_EQ(Field(view_, "fileName")->text().toStdString(), big);
  EXPECT_EQ(Child<QLabel>(view_, "progressText")->text(), QStringLiteral("0 / 70000"));
  EXPECT_EQ(Child<QProgressBar>(view_, "progress")->maximum(), 70000);

  // A file that can't be read keeps the group as it was; an empty one shows "0 / 0".
  picker.Answer(QString::fromStdString(dir.File("missing")));
  Child<QPushButton>(view_, "browse")->click();
  EXPECT_EQ(Field(view_, "fileName")->text().toStdString(), big);
  EXPECT_EQ(messages_.messages().size(), 1u);
  const std::string empty = dir.File("empty.txt");
  WriteFile(empty, "");
  picker.Answer(QString::fromStdString(empty));
  Child<QPushButton>(view_, "browse")->click();
  EXPECT_EQ(Child<QLabel>(view_, "progressText")->text(), QStringLiteral("0 / 0"));

  // Send and Cancel only switch each other, once the fields are filled.
  messages_.Clear();
  auto* send = Child<QPushButton>(view_, "send");
  send->setEnabled(true);
  Field(view_, "fileName")->clear();
  send->click();
  Field(view_, "fileName")->setText(QString::fromStdString(empty));
  send->click();
  ASSERT_EQ(messages_.messages().size(), 2u);
  EXPECT_EQ(messages_.messages()[0].text, QStringLiteral("You have to select a file"));
  EXPECT_EQ(messages_.messages()[1].text, QStringLiteral("You have to enter a description"));
  EXPECT_EQ(messages_.messages()[1].title, QStringLiteral("Error"));
  Field(view_, "description")->setText(QStringLiteral("holiday"));
  send->click();
  EXPECT_FALSE(send->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(view_, "cancel")->isEnabled());
  Child<QPushButton>(view_, "cancel")->click();
  EXPECT_TRUE(send->isEnabled());
  EXPECT_FALSE(Child<QPushButton>(view_, "cancel")->isEnabled());
}

TEST(ToolkitFilterTest, AFilterNameWithoutPatternsTakesItsPatterns) {
  EXPECT_EQ(
      ToolkitFilter(QStringLiteral(
          "All Media Files|*.wav;*.au;*.mp3;*.mpg|Text (*.txt)|*.txt|All files (*.*)|*.*|")),
      QStringLiteral("All Media Files (*.wav *.au *.mp3 *.mpg);;Text (*.txt);;All files (*)"));
}

}  // namespace
}  // namespace ondavox::test
