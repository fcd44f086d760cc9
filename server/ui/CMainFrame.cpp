#include "server/ui/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <filesystem>

#include "common/HelpFile.h"
#include "platform/Launcher.h"
#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"
#include "server/ui/COndavoxView.h"
#include "server/ui/TransferStatus.h"

namespace ondavox::server {
namespace {

constexpr char kHelpFile[] = "Server.hlp";

}  // namespace

CMainFrame::CMainFrame(COndavoxDoc& document, std::string startDirectory)
    : document_(document),
      startDirectory_(std::move(startDirectory)),
      view_(new COndavoxView(document, this)) {
  setCentralWidget(view_);
  BuildMenus();
  BuildStatusBar();
}

void CMainFrame::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  connect(file->addAction(QStringLiteral("&Quit")), &QAction::triggered, this, &QWidget::close);

  QMenu* server = menuBar()->addMenu(QStringLiteral("Server"));
  server->addAction(view_->startAction());
  server->addAction(view_->stopAction());
  server->addAction(view_->usersAction());
  server->addAction(view_->documentsAction());
  server->addAction(view_->playlistAction());

  auto* about = new QAction(QStringLiteral("&About ..."), this);
  connect(about, &QAction::triggered, this, &CMainFrame::OnAbout);
  toolBar_ = addToolBar(QStringLiteral("Tools"));
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setMovable(true);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->addAction(about);

  QMenu* display = menuBar()->addMenu(QStringLiteral("&Display"));
  QAction* tools = display->addAction(QStringLiteral("&Tools bas"));
  tools->setCheckable(true);
  tools->setChecked(true);
  connect(tools, &QAction::toggled, toolBar_, &QWidget::setVisible);
  QAction* status = display->addAction(QStringLiteral("&Status &bar"));
  status->setCheckable(true);
  status->setChecked(true);
  connect(status, &QAction::toggled, this, [this](bool shown) { statusBar()->setVisible(shown); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  QAction* helpAction = help->addAction(QStringLiteral("&Help\tF1"));
  helpAction->setShortcut(Qt::Key_F1);
  connect(helpAction, &QAction::triggered, this, &CMainFrame::OnHelp);
  help->addAction(about);

  // The document file: accelerators only, no menu entries.
  auto* save = new QAction(this);
  save->setShortcut(QKeySequence::Save);
  connect(save, &QAction::triggered, this, &CMainFrame::OnSaveDocumentFile);
  auto* open = new QAction(this);
  open->setShortcut(QKeySequence::Open);
  connect(open, &QAction::triggered, this, &CMainFrame::OnOpenDocumentFile);
  addAction(save);
  addAction(open);
}

void CMainFrame::BuildStatusBar() {
  // Permanent, so that the prompts leave it in view.
  transferStatus_ = new TransferStatus(document_.runner(), statusBar());
  statusBar()->addPermanentWidget(transferStatus_);
  for (const char* indicator : {"CAP", "NUM", "SCRL"}) {
    auto* label = new QLabel(QString::fromLatin1(indicator), statusBar());
    label->setEnabled(false);
    statusBar()->addPermanentWidget(label);
  }
  statusBar()->showMessage(QStringLiteral("Ready"));
}

void CMainFrame::ShowHostTitle(HostResolver& resolver) {
  setWindowTitle(QStringLiteral("Server"));
  if (const std::optional<std::string> title = MakeHostTitle("ZENTALO Server - ", resolver)) {
    setWindowTitle(QString::fromStdString(*title));
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  view_->OnStopServer();  // nothing when the server is stopped
  event->accept();
}

void CMainFrame::OnHelp() {
  const std::filesystem::path help = FindHelpFile(kHelpFile, startDirectory_, ProgramDirectory());
  std::error_code error;
  if (!std::filesystem::exists(help, error) || !ProcessLauncher().OpenWithDesktop(help.string())) {
    ShowMessageBox(
        this,
        QStringLiteral("Cannot open the help file %1.").arg(QString::fromStdString(help.string())),
        MessageIcon::kWarning);
  }
}

void CMainFrame::OnAbout() {
  ShowMessageBox(this, QStringLiteral("Ondavox Server"), QStringLiteral("About Ondavox"),
                 MessageIcon::kInformation);
}

void CMainFrame::OnSaveDocumentFile() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kSaveFile;
  request.parent = this;
  request.defaultName = QStringLiteral("Ondavox");
  const std::optional<QString> path = PickFile(request);
  if (!path) return;
  const Status saved = document_.SaveDocumentFile(path->toStdString());
  if (!saved.ok()) {
    ShowMessageBox(this, QString::fromStdString(saved.message()), MessageIcon::kError);
  }
}

void CMainFrame::OnOpenDocumentFile() {
  if (document_.IsRunning()) return;  // the fields it changes are locked while running
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kOpenFile;
  request.parent = this;
  const std::optional<QString> path = PickFile(request);
  if (!path) return;
  const Status opened = document_.OpenDocumentFile(path->toStdString());
  if (!opened.ok()) {
    ShowMessageBox(this, QString::fromStdString(opened.message()), MessageIcon::kError);
    return;
  }
  view_->ShowSettings();
}

}  // namespace ondavox::server
