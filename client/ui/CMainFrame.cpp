#include "client/ui/CMainFrame.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <filesystem>

#include "client/core/ClientCommands.h"
#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "client/ui/CAboutDlg.h"
#include "client/ui/CClientView.h"
#include "client/ui/CFileAssociationDlg.h"
#include "client/ui/CFoldersDlg.h"
#include "client/ui/CServerPropertiesDlg.h"
#include "client/ui/CUserPropertiesDlg.h"
#include "client/ui/ReceptionProgress.h"
#include "common/HelpFile.h"
#include "platform/CurrentDirectory.h"
#include "platform/Launcher.h"
#include "platform/ui/MessageBox.h"

namespace ondavox::client {
namespace {

constexpr char kHelpFile[] = "Client.hlp";

}  // namespace

CMainFrame::CMainFrame(ClientRunner& runner, Launcher& launcher)
    : runner_(runner),
      launcher_(launcher),
      config_("./client.ini"),
      startDirectory_(CurrentDirectory()) {
  PublishSettings();
  runner_.serverKey().Load(config_.serverKey, config_.PinWriter());
  // A refused server key is shown in a message box too, from the window thread.
  runner_.serverKey().SetAlert([this](const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, message = QString::fromStdString(text)] {
          ShowMessageBox(this, message, MessageIcon::kError);
        },
        Qt::QueuedConnection);
  });
  setWindowTitle(QStringLiteral("Palvoro - Client"));
  view_ = new CClientView(runner_, this);
  setCentralWidget(view_);
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  connect(view_, &CClientView::connectionChanged, this, &CMainFrame::UpdateCommands);
  UpdateCommands();
  QCoreApplication::instance()->installEventFilter(this);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const QKeySequence pressed(key->keyCombination());
  for (const QAction* action : actions()) {
    if (action->isEnabled() && action->shortcut() == pressed) {
      event->ignore();  // not taken by the field: the shortcut runs
      return true;
    }
  }
  return false;
}

CMainFrame::~CMainFrame() { runner_.serverKey().SetAlert({}); }

QAction* CMainFrame::AddCommand(const QString& text, const QKeySequence& keys,
                                const QString& prompt, void (CMainFrame::*handler)()) {
  auto* action = new QAction(text, this);
  action->setShortcut(keys);
  action->setStatusTip(prompt);
  connect(action, &QAction::triggered, this, handler);
  // The accelerators work whatever menu holds the command (the User menu is grayed).
  addAction(action);
  return action;
}

void CMainFrame::BuildMenus() {
  connect_ = AddCommand(QStringLiteral("Co&nnect...\tCtrl+N"), QKeySequence(Qt::CTRL | Qt::Key_N),
                        QStringLiteral("Connect to the server"), &CMainFrame::OnConnect);
  serverProperties_ =
      AddCommand(QStringLiteral("&Properties...\tCtrl+P"), QKeySequence(Qt::CTRL | Qt::Key_P),
                 QStringLiteral("Set the server's properties"), &CMainFrame::OnServerProperties);
  disconnect_ =
      AddCommand(QStringLiteral("&Disconnect\tCtrl+D"), QKeySequence(Qt::CTRL | Qt::Key_D),
                 QStringLiteral("Disconect from the server"), &CMainFrame::OnDisconnect);
  userProperties_ =
      AddCommand(QStringLiteral("&Properties...\tCtrl+U"), QKeySequence(Qt::CTRL | Qt::Key_U),
                 QString(), &CMainFrame::OnUserProperties);
  fileAssociation_ =
      AddCommand(QStringLiteral("File &Association...\tCtrl+A"), QKeySequence(Qt::CTRL | Qt::Key_A),
                 QString(), &CMainFrame::OnFileAssociation);
  folders_ = AddCommand(QStringLiteral("&Folders...\tCtrl+F"), QKeySequence(Qt::CTRL | Qt::Key_F),
                        QString(), &CMainFrame::OnFolders);
  saveParameters_ =
      AddCommand(QStringLiteral("&Save Parameters\tCtrl+S"), QKeySequence(Qt::CTRL | Qt::Key_S),
                 QString(), &CMainFrame::OnSaveParameters);
  help_ =
      AddCommand(QStringLiteral("&Help...\tF1"), QKeySequence(), QString(), &CMainFrame::OnHelp);
  // F1 opens the About box, not the help file.
  about_ = AddCommand(QStringLiteral("&About..."), QKeySequence(Qt::Key_F1),
                      QStringLiteral("Show program information"), &CMainFrame::OnAbout);
  about_->setToolTip(QStringLiteral("About..."));
  exit_ = new QAction(QStringLiteral("E&xit\tAlt+F4"), this);
  exit_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  exit_->setStatusTip(QStringLiteral("Close the app"));
  connect(exit_, &QAction::triggered, this, &QWidget::close);
  addAction(exit_);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(saveParameters_);
  file->addSeparator();
  file->addAction(exit_);

  QMenu* server = menuBar()->addMenu(QStringLiteral("&Server"));
  server->addAction(connect_);
  server->addAction(serverProperties_);
  server->addSeparator();
  server->addAction(disconnect_);
  connect(server, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);

  QMenu* user = menuBar()->addMenu(QStringLiteral("&User"));
  user->addAction(userProperties_);
  user->menuAction()->setEnabled(false);

  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  options->addAction(fileAssociation_);
  options->addAction(folders_);
  options->addSeparator();
  // The message-box option: always shown checked and disabled; it does nothing.
  QMenu* messages = options->addMenu(QStringLiteral("&Messages"));
  messages->menuAction()->setCheckable(true);
  messages->menuAction()->setChecked(true);
  messages->menuAction()->setEnabled(false);
  QAction* infos = messages->addAction(QStringLiteral("Infos"));
  infos->setCheckable(true);
  infos->setChecked(true);
  infos->setEnabled(false);
  infos->setStatusTip(QStringLiteral("Display message boxes"));
  messages->addAction(QString())->setEnabled(false);

  // Filled once the bars exist (BuildToolBar, BuildStatusBar).
  menuBar()->addMenu(QStringLiteral("&Display"))->setObjectName(QStringLiteral("displayMenu"));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
  help->addAction(help_);
  help->addAction(about_);
}

void CMainFrame::BuildToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Tool Bar"));
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setMovable(false);
  toolBar_->setIconSize(QSize(16, 16));
  connect_->setIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
  connect_->setToolTip(QStringLiteral("Connect"));
  disconnect_->setIcon(style()->standardIcon(QStyle::SP_DialogNoButton));
  disconnect_->setToolTip(QStringLiteral("Disconnect"));
  toolBar_->addAction(connect_);
  toolBar_->addAction(disconnect_);
}

void CMainFrame::BuildStatusBar() {
  // The idle text sits under the prompts, which hide it while they show.
  statusBar()->addWidget(new QLabel(QStringLiteral("Prêt"), statusBar()), 1);
  // Permanent, so that the prompts leave it in view.
  receptionProgress_ = new ReceptionProgress(runner_.fcastReceiver().object(), statusBar());
  statusBar()->addPermanentWidget(receptionProgress_);
  for (const char* indicator : {"MAJ", "NUM", "DEF"}) {
    auto* label = new QLabel(QString::fromLatin1(indicator), statusBar());
    label->setEnabled(false);
    statusBar()->addPermanentWidget(label);
  }

  auto* display = menuBar()->findChild<QMenu*>(QStringLiteral("displayMenu"));
  QAction* tools = display->addAction(QStringLiteral("&Tool Bar"));
  tools->setCheckable(true);
  tools->setChecked(true);
  tools->setStatusTip(QStringLiteral("Show or hide the tool bar"));
  connect(tools, &QAction::toggled, toolBar_, &QWidget::setVisible);
  QAction* status = display->addAction(QStringLiteral("&Status Bar"));
  status->setCheckable(true);
  status->setChecked(true);
  status->setStatusTip(QStringLiteral("Show or hide the status bar"));
  connect(status, &QAction::toggled, this, [this](bool shown) { statusBar()->setVisible(shown); });
}

void CMainFrame::ShowHostTitle(HostResolver& resolver) {
  if (const std::optional<std::string> title = MakeHostTitle("ZENTALO Client - ", resolver)) {
    setWindowTitle(QString::fromStdString(*title));
  }
}

void CMainFrame::UpdateCommands() {
  const bool connected = runner_.connected();
  connect_->setEnabled(!connected);
  serverProperties_->setEnabled(!connected);
  disconnect_->setEnabled(connected);
}

void CMainFrame::PublishSettings() { runner_.settings().Update(config_); }

void CMainFrame::OnConnect() {
  if (runner_.connected()) return;
  CUserPropertiesDlg dialog(this);
  dialog.SetUser(config_.login, config_.pass);
  if (dialog.exec() != QDialog::Accepted) return;
  config_.login = dialog.login;
  config_.pass = dialog.password;
  if (dialog.existingUser == 0 && dialog.newUser == 0) return;

  // Logged before the session's threads start, so it comes before their lines.
  AppendLog("Try to connect", "INFO");
  runner_.Connect(config_.serverPort, config_.serverMulticastPort, config_.serverIP,
                  config_.serverGroup);
  if (!runner_.connected()) {
    AppendLog("Can't connect the server", "ERROR");
  } else if (dialog.existingUser != 0) {
    runner_.SendTCP(ClientCommands::Login(config_.login, config_.pass));
  } else {
    runner_.SendTCP(
        ClientCommands::Register(config_.login, config_.pass, dialog.name, dialog.lastName));
  }
  UpdateCommands();
}

void CMainFrame::OnDisconnect() {
  if (!runner_.connected()) return;
  runner_.SendTCP(ClientCommands::Logout(config_.login));
}

void CMainFrame::OnServerProperties() {
  if (runner_.connected()) return;
  CServerPropertiesDlg dialog(this);
  dialog.SetValues(config_.serverIP, config_.serverMulticastPort, config_.serverPort,
                   config_.serverGroup, runner_.serverKey().PinnedFingerprint());
  if (dialog.exec() != QDialog::Accepted) return;
  config_.serverIP = dialog.serverIP;
  config_.serverMulticastPort = dialog.multicastPort;
  config_.serverPort = dialog.tcpPort;
  config_.serverGroup = dialog.group;
}

void CMainFrame::OnUserProperties() {
  CUserPropertiesDlg dialog(this);
  dialog.SetUser(config_.login, config_.pass);
  if (dialog.exec() != QDialog::Accepted) return;
  config_.login = dialog.login;
  config_.pass = dialog.password;
}

void CMainFrame::OnFileAssociation() {
  CFileAssociationDlg dialog(config_.associations, this);
  dialog.exec();
  PublishSettings();
}

void CMainFrame::OnFolders() {
  CFoldersDlg dialog(this);
  dialog.SetDownloadDirectory(config_.downloadDirectory);
  if (dialog.exec() != QDialog::Accepted) return;
  config_.downloadDirectory = dialog.downloadDirectory;
  PublishSettings();
}

void CMainFrame::OnSaveParameters() {
  std::error_code error;
  std::filesystem::current_path(startDirectory_, error);
  config_.Save();
  AppendLog("Parameters saved", "SAVE");
}

void CMainFrame::OnHelp() {
  const std::filesystem::path help =
      FindHelpFile(kHelpFile, startDirectory_, ProgramDirectory());
  std::error_code error;
  if (!std::filesystem::exists(help, error) || !launcher_.OpenWithDesktop(help.string())) {
    ShowMessageBox(
        this,
        QStringLiteral("Cannot open the help file %1.").arg(QString::fromStdString(help.string())),
        MessageIcon::kWarning);
  }
}

void CMainFrame::OnAbout() {
  CAboutDlg dialog(this);
  dialog.exec();
}

}  // namespace ondavox::client
