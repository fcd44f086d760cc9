// Renders the windows and dialogs that the README shows, as PNG files into the folder given as
// the only argument: the server window over a small demo document, then with a transfer under
// way, the four administration dialogs, the client window receiving a file and the client's two
// form dialogs. The `screenshots` target refreshes
// docs/screenshots with it; the test suite's docs step runs it into the build folder, so every
// picture stays renderable (under the sanitizers too). It starts a server, so it moves into a
// private network namespace first. Exit status 1 when a picture cannot be written.
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "client/ui/CClientView.h"
#include "client/ui/CMainFrame.h"
#include "client/ui/CServerPropertiesDlg.h"
#include "client/ui/CUserPropertiesDlg.h"
#include "client/ui/ReceptionProgress.h"
#include "platform/PrivateNetwork.h"
#include "server/admin/CAddFileDlg.h"
#include "server/admin/CManageDocumentsDlg.h"
#include "server/admin/CManagePlayListDlg.h"
#include "server/admin/CManageUsersDlg.h"
#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"
#include "server/ui/CMainFrame.h"
#include "server/ui/COndavoxView.h"
#include "server/ui/TransferStatus.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

using namespace ondavox::server;
using ondavox::client::CServerPropertiesDlg;
using ondavox::client::CUserPropertiesDlg;

class Pictures {
 public:
  explicit Pictures(std::filesystem::path folder) : folder_(std::move(folder)) {}

  void Take(QWidget& widget, const char* fileName) {
    widget.show();
    QCoreApplication::processEvents();
    const std::filesystem::path path = folder_ / fileName;
    if (!widget.grab().save(QString::fromStdString(path.string()), "PNG")) {
      std::fprintf(stderr, "ondavox_screenshots: cannot write %s\n", path.c_str());
      failed_ = true;
    }
  }
  bool failed() const { return failed_; }

 private:
  std::filesystem::path folder_;
  bool failed_ = false;
};

template <class Widget>
Widget& Named(const QWidget& parent, const char* name) {
  return *parent.findChild<Widget*>(QString::fromLatin1(name));
}

// A running server with two users, two documents and one playlist entry.
class DemoDocument {
 public:
  DemoDocument() : document_(dir_.path().string(), FactoryOf(std::make_shared<FakeFcastSender>())) {
    document_.Load();
    ServerDataAccess access(document_.runner());
    for (const auto& [login, online, ip] :
         {std::tuple{"amy", 1, "10.0.0.4"}, std::tuple{"bob", 0, "10.0.0.9"}}) {
      auto user = std::make_unique<CUserInfo>(login, std::string("pw-") + login,
                                              std::string("Name ") + login,
                                              std::string("Surname ") + login, 0, online, ip, 0);
      document_.users().Add(user);
    }
    for (const auto& [file, description] :
         {std::pair{"clip.avi", "Holiday clip"}, std::pair{"song.mp3", "A song"}}) {
      auto record =
          std::make_unique<CDocInfo>(file, "root", dir_.File(file), "unknown", 0, 1, description);
      document_.documents().Add(record);
    }
    document_.RefreshLoginLists();
    document_.GetPlaylist().AddTail(
        CDocInfo("song.mp3", "root", dir_.File("song.mp3"), "unknown", 0, 1, "A song"));
  }
  COndavoxDoc& document() { return document_; }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  COndavoxDoc document_;
};

void TakeServerPictures(Pictures& pictures) {
  DemoDocument demo;
  COndavoxDoc& document = demo.document();
  {
    CMainFrame frame(document, demo.dir().path().string());
    frame.setWindowTitle(QStringLiteral("ZENTALO Server - studio - 192.168.1.10"));
    frame.resize(760, 600);
    Named<QPushButton>(frame.view(), "startServer").click();
    document.runner().PostEvent(ServerEvent(USER_ONLINE, {"bob"}));
    pictures.Take(frame, "server-main-window.png");
  }
  {
    // The status bar during the second round of a transfer, as the sender thread reports it, in
    // a window of its own: its timer has not yet looked at the runner, which sends nothing.
    CMainFrame frame(document, demo.dir().path().string());
    frame.setWindowTitle(QStringLiteral("ZENTALO Server - studio - 192.168.1.10"));
    frame.resize(760, 600);
    FcastSenderThread::Progress progress;
    progress.entry = CDocInfo("clip.avi", "root", demo.dir().File("clip.avi"), "video/avi", 0, 1,
                              "Holiday clip");
    progress.fileSize = 3'145'728;
    progress.rounds = 3;
    progress.bytesSent = 4'100'000;
    progress.round = 2;
    TransferMeter meter;
    const auto now = std::chrono::steady_clock::now();
    meter.Sample(progress, now - std::chrono::seconds(1));
    progress.bytesSent += 51'200;  // the demo's Rate, 400 kbit/s
    frame.transferStatus().Show(meter.Sample(progress, now));
    pictures.Take(frame, "server-transfer-progress.png");
  }
  {
    CManageUsersDlg dialog(nullptr, document);
    Named<QListWidget>(dialog, "loggedIn").item(0)->setSelected(true);
    pictures.Take(dialog, "manage-users.png");
  }
  {
    CManageDocumentsDlg dialog(nullptr, document, PickerMode::Manage);
    pictures.Take(dialog, "manage-documents.png");
  }
  {
    CManageDocumentsDlg dialog(nullptr, document, PickerMode::PickForPlaylist);
    pictures.Take(dialog, "manage-documents-picker.png");
  }
  {
    CAddFileDlg dialog(nullptr);
    pictures.Take(dialog, "add-file.png");
  }
  {
    CManagePlayListDlg dialog(nullptr, document);
    pictures.Take(dialog, "manage-play-list.png");
  }
  document.Stop();
}

// The client window logged in, with the announced playlist, while a file comes in; its
// receiver object reports the figures that the status bar shows. The window reads and writes
// client.ini in the current folder, so it runs in a temporary one.
void TakeClientWindowPicture(Pictures& pictures) {
  TempDir start;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(start.path());
  {
    RecordingLauncher launcher;
    auto receiver = std::make_shared<FakeReceiverObject>();
    receiver->SetProgress({1, "clip.avi", 3'145'728, 944, 2'247});
    client::ClientRunner runner(launcher, [&] { return receiver; });
    client::CMainFrame frame(runner, launcher);
    frame.setWindowTitle(QStringLiteral("ZENTALO Client - studio - 192.168.1.10"));
    frame.resize(760, 620);
    frame.view().ReplaceRows({{"clip.avi", "root"}, {"song.mp3", "root"}});
    for (const char* line : {"You are connected", "Init OK", "Start OK"}) {
      client::AppendLog(line, line[0] == 'Y' ? "INFO" : "FCAST");
    }
    frame.receptionProgress().Show(client::ReceptionFigures{"clip.avi", 3'145'728, 42, 51'200});
    pictures.Take(frame, "client-reception-progress.png");
  }
  std::filesystem::current_path(previous);
}

void TakeClientPictures(Pictures& pictures) {
  TakeClientWindowPicture(pictures);
  CServerPropertiesDlg server;
  server.SetValues("127.0.0.1", 2001, 1550, "230.0.0.1");
  pictures.Take(server, "client-server-properties.png");
  CUserPropertiesDlg user;
  user.SetUser("ann", "pw");
  Named<QCheckBox>(user, "newUser").click();
  Named<QLineEdit>(user, "login").setText(QStringLiteral("bob"));
  Named<QLineEdit>(user, "name").setText(QStringLiteral("Bob"));
  pictures.Take(user, "client-user-properties.png");
}

}  // namespace
}  // namespace ondavox::test

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ondavox_screenshots FOLDER\n");
    return 2;
  }
  if (auto error = ondavox::EnterPrivateNetwork()) {
    std::fprintf(stderr, "ondavox_screenshots: no private network: %s\n", error->c_str());
    return 1;
  }
  QApplication application(argc, argv);
  std::filesystem::create_directories(argv[1]);
  ondavox::test::Pictures pictures(argv[1]);
  ondavox::test::TakeServerPictures(pictures);
  ondavox::test::TakeClientPictures(pictures);
  return pictures.failed() ? 1 : 0;
}
