#include "server/ui/COndavoxView.h"

#include <QAction>
#include <QRegularExpressionValidator>
#include <filesystem>
#include <future>
#include <memory>

#include "common/LenientInteger.h"
#include "platform/ui/FieldValidation.h"
#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"
#include "server/admin/CManageDocumentsDlg.h"
#include "server/admin/CManagePlayListDlg.h"
#include "server/admin/CManageUsersDlg.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "ui_COndavoxView.h"

namespace ondavox::server {
namespace {

constexpr int kMulticastIPMaxChars = 15;

QAction* MakeAction(QWidget* owner, const QString& text, const QString& prompt) {
  auto* action = new QAction(text, owner);
  action->setStatusTip(prompt);
  return action;
}

bool IsFolder(const QString& text) {
  std::error_code error;
  return !text.isEmpty() && std::filesystem::is_directory(text.toStdString(), error);
}

}  // namespace

COndavoxView::COndavoxView(COndavoxDoc& document, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::COndavoxView>()),
      document_(document),
      start_(MakeAction(this, QStringLiteral("Start Server"),
                        QStringLiteral("Open Sockets and start listening"))),
      stop_(MakeAction(this, QStringLiteral("Stop Server"),
                       QStringLiteral("Close Sockets and Shutdown Server"))),
      users_(MakeAction(this, QStringLiteral("Users"), QStringLiteral("Manage & View Users"))),
      documents_(MakeAction(this, QStringLiteral("Documents"), QStringLiteral("Manage Documents"))),
      playlist_(MakeAction(this, QStringLiteral("Playlist"), QString())) {
  ui_->setupUi(this);
  for (QLineEdit* field :
       {ui_->tcpPort, ui_->multicastPort, ui_->fcastPort, ui_->fcastRound, ui_->fcastRate}) {
    AllowDigitsOnly(*field);
  }
  // Typing stops at 15 characters; a longer value from the file is still shown whole.
  ui_->multicastIP->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral(".{0,%1}").arg(kMulticastIPMaxChars)), ui_->multicastIP));

  connect(start_, &QAction::triggered, this, &COndavoxView::OnStartServer);
  connect(stop_, &QAction::triggered, this, &COndavoxView::OnStopServer);
  connect(users_, &QAction::triggered, this, &COndavoxView::OnManageUsers);
  connect(documents_, &QAction::triggered, this, &COndavoxView::OnManageDocuments);
  connect(playlist_, &QAction::triggered, this, &COndavoxView::OnManagePlayList);
  connect(ui_->startServer, &QPushButton::clicked, start_, &QAction::trigger);
  connect(ui_->stopServer, &QPushButton::clicked, stop_, &QAction::trigger);
  connect(ui_->manageUsers, &QPushButton::clicked, users_, &QAction::trigger);
  connect(ui_->manageDocuments, &QPushButton::clicked, documents_, &QAction::trigger);
  connect(ui_->managePlayList, &QPushButton::clicked, playlist_, &QAction::trigger);
  connect(ui_->saveParameters, &QPushButton::clicked, this, [this] { document_.SaveSettings(); });
  connect(ui_->clearLog, &QPushButton::clicked, this, [this] { log_.Clear(); });
  connect(ui_->documentPathBrowse, &QPushButton::clicked, this, &COndavoxView::OnPickFolder);
  connect(ui_->userDatabaseBrowse, &QPushButton::clicked, this, [this] {
    OnPickDatabase(*ui_->userDatabase, document_.config().clientDatabase,
                   QStringLiteral("ClientDB.dat"),
                   QStringLiteral("Client Database (*.dat)|*.dat|All Files (*.*)|*.*||"));
  });
  connect(ui_->documentDatabaseBrowse, &QPushButton::clicked, this, [this] {
    OnPickDatabase(*ui_->documentDatabase, document_.config().documentDatabase,
                   QStringLiteral("DocumentDB.dat"),
                   QStringLiteral("Document Database (*.dat)|*.dat|All Files (*.*)|*.*||"));
  });

  ShowSettings();
  ConnectSettingFields();
  SetRunningState(document_.IsRunning());
  log_.Attach(ui_->log);
  document_.SetLog(this);
}

COndavoxView::~COndavoxView() { document_.SetLog(nullptr); }

void COndavoxView::AppendLog(std::string_view line) { log_.Append(line); }

void COndavoxView::ShowSettings() {
  const ServerConfig& config = document_.config();
  ui_->tcpPort->setText(QString::number(config.Port));
  ui_->multicastIP->setText(QString::fromStdString(config.MulticastIP));
  ui_->multicastPort->setText(QString::number(config.MulticastPort));
  ui_->fcastIP->setText(QString::fromStdString(config.FcastIP));
  ui_->fcastPort->setText(QString::number(config.FcastPort));
  ui_->fcastRound->setText(QString::number(config.FcastRound));
  ui_->fcastRate->setText(QString::number(config.FcastRate));
  ui_->documentDatabase->setText(QString::fromStdString(config.documentDatabase));
  ui_->documentPath->setText(QString::fromStdString(config.documentPath));
  ui_->userDatabase->setText(QString::fromStdString(config.clientDatabase));
}

void COndavoxView::ConnectSettingFields() {
  ServerConfig& config = document_.config();
  const auto integer = [this](QLineEdit* field, int32_t& setting) {
    connect(field, &QLineEdit::textEdited, this,
            [&setting](const QString& text) { setting = LenientInteger(text.toStdString()); });
  };
  const auto text = [this](QLineEdit* field, std::string& setting) {
    connect(field, &QLineEdit::textEdited, this,
            [&setting](const QString& value) { setting = value.toStdString(); });
  };
  integer(ui_->tcpPort, config.Port);
  integer(ui_->multicastPort, config.MulticastPort);
  integer(ui_->fcastPort, config.FcastPort);
  integer(ui_->fcastRound, config.FcastRound);
  integer(ui_->fcastRate, config.FcastRate);
  text(ui_->multicastIP, config.MulticastIP);
  text(ui_->fcastIP, config.FcastIP);
}

void COndavoxView::SetRunningState(bool running) {
  start_->setEnabled(!running);
  ui_->startServer->setEnabled(!running);
  stop_->setEnabled(running);
  ui_->stopServer->setEnabled(running);
  users_->setEnabled(running);
  ui_->manageUsers->setEnabled(running);
  documents_->setEnabled(running);
  ui_->manageDocuments->setEnabled(running);
  for (QWidget* control :
       {static_cast<QWidget*>(ui_->tcpPort), static_cast<QWidget*>(ui_->multicastIP),
        static_cast<QWidget*>(ui_->multicastPort), static_cast<QWidget*>(ui_->fcastIP),
        static_cast<QWidget*>(ui_->fcastPort), static_cast<QWidget*>(ui_->fcastRound),
        static_cast<QWidget*>(ui_->fcastRate), static_cast<QWidget*>(ui_->documentDatabaseBrowse),
        static_cast<QWidget*>(ui_->documentPathBrowse),
        static_cast<QWidget*>(ui_->userDatabaseBrowse),
        static_cast<QWidget*>(ui_->saveParameters)}) {
    control->setEnabled(!running);
  }
  ui_->clearLog->setEnabled(running);
}

void COndavoxView::ReadFieldCopies() {
  const std::optional<int32_t> tcpPort = ReadIntegerField(*ui_->tcpPort);
  if (!tcpPort) return;
  checkedTcpPort_ = *tcpPort;
  const std::optional<int32_t> multicastPort = ReadIntegerField(*ui_->multicastPort);
  if (!multicastPort) return;
  checkedMulticastPort_ = *multicastPort;
  if (!CheckFieldLength(*ui_->multicastIP, kMulticastIPMaxChars)) return;
  checkedMulticastIP_ = ui_->multicastIP->text();
  checkedDocumentPath_ = ui_->documentPath->text();
  checkedDocumentDatabase_ = ui_->documentDatabase->text();
  checkedUserDatabase_ = ui_->userDatabase->text();
}

bool COndavoxView::CheckFolderOf(const QString& text, QLineEdit& field, const QString& message) {
  const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0 && IsFolder(text.left(slash))) return true;
  ShowMessageBox(this, message, QStringLiteral("Error"), MessageIcon::kError);
  field.setFocus();
  return false;
}

Status COndavoxView::OnStartServer() {
  if (document_.IsRunning()) return Status();
  ReadFieldCopies();
  const QString badDocumentDatabase = QStringLiteral("Document database path is not valide !");
  if (!CheckFolderOf(checkedDocumentDatabase_, *ui_->documentDatabase, badDocumentDatabase)) {
    return Status::InvalidArgument(badDocumentDatabase.toStdString());
  }
  if (!IsFolder(checkedDocumentPath_)) {
    const QString badDocumentPath = QStringLiteral("Document path is not valide !");
    ShowMessageBox(this, badDocumentPath, QStringLiteral("Error"), MessageIcon::kError);
    ui_->documentPath->setFocus();
    return Status::InvalidArgument(badDocumentPath.toStdString());
  }
  const QString badUserDatabase = QStringLiteral("User database path is not valide !");
  if (!CheckFolderOf(checkedUserDatabase_, *ui_->userDatabase, badUserDatabase)) {
    return Status::InvalidArgument(badUserDatabase.toStdString());
  }
  // Emptied before starting, so that the lines the start steps log (a port that cannot be
  // opened, a missing Fcast component) stay above "Server started.".
  log_.Clear();
  Status started = ServerAdministration(document_).StartServer();
  if (started.ok()) SetRunningState(true);
  return started;
}

Status COndavoxView::OnStopServer() {
  if (!document_.IsRunning()) return Status();
  Status saved = ServerAdministration(document_).StopServer();
  SetRunningState(false);  // the runner is closed whether or not the files were written
  if (!saved.ok()) ShowMessageBox(this, QString::fromStdString(saved.message()), MessageIcon::kError);
  return saved;
}

ControlCommands::ServerSwitch COndavoxView::ChannelSwitch() {
  return {[this] { return RunOnWindowThread([this] { return OnStartServer(); }); },
          [this] { return RunOnWindowThread([this] { return OnStopServer(); }); }};
}

void COndavoxView::EndChannelCalls() { channelClosing_ = true; }

Status COndavoxView::RunOnWindowThread(std::function<Status()> sequence) {
  const Status closing = Status::IoError("the server window is closing");
  if (channelClosing_.load()) return closing;
  auto outcome = std::make_shared<std::promise<Status>>();
  std::future<Status> done = outcome->get_future();
  // A call still queued when the view goes is dropped with its promise, which ends the wait.
  QMetaObject::invokeMethod(
      this, [outcome, sequence = std::move(sequence)] { outcome->set_value(sequence()); },
      Qt::QueuedConnection);
  outcome.reset();
  // Checked in short steps: once the window has left its event loop the call never runs.
  const auto deadline = std::chrono::steady_clock::now() + kWindowPatience;
  while (done.wait_for(kClosingCheck) != std::future_status::ready) {
    if (channelClosing_.load()) return closing;
    if (std::chrono::steady_clock::now() > deadline) {
      return Status::IoError("the server window did not answer in time");
    }
  }
  try {
    return done.get();
  } catch (const std::future_error&) {
    return closing;  // the view went with the call still queued
  }
}

void COndavoxView::OnManageUsers() {
  CManageUsersDlg dialog(this, document_);
  dialog.exec();
}

void COndavoxView::OnManageDocuments() {
  CManageDocumentsDlg dialog(this, document_, PickerMode::Manage);
  dialog.exec();
}

void COndavoxView::OnManagePlayList() {
  CManagePlayListDlg dialog(this, document_);
  dialog.exec();
}

void COndavoxView::OnPickFolder() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kFolder;
  request.parent = this;
  request.title = QStringLiteral("Select a folder to put recorded files : ");
  std::optional<QString> folder = PickFile(request);
  if (!folder || folder->isEmpty()) return;
  while (folder->size() > 1 && folder->endsWith(QLatin1Char('/'))) folder->chop(1);
  ui_->documentPath->setText(*folder);
  document_.config().documentPath = folder->toStdString();
}

void COndavoxView::OnPickDatabase(QLineEdit& field, std::string& setting,
                                  const QString& defaultName, const QString& filter) {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kSaveFile;
  request.parent = this;
  request.defaultName = defaultName;
  request.defaultSuffix = QStringLiteral("dat");
  request.filter = filter;
  const std::optional<QString> file = PickFile(request);
  if (!file) return;
  field.setText(*file);
  setting = file->toStdString();
}

}  // namespace ondavox::server
