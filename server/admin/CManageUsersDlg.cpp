#include "server/admin/CManageUsersDlg.h"

#include <QEvent>

#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/net/ServerDataAccess.h"
#include "ui_CManageUsersDlg.h"

namespace ondavox::server {
namespace {

void Fill(QListWidget& box, QLabel& count, const std::vector<std::string>& logins) {
  for (const std::string& login : logins) box.addItem(QString::fromStdString(login));
  count.setText(QStringLiteral("%1 users").arg(box.count()));
}

}  // namespace

CManageUsersDlg::CManageUsersDlg(QWidget* parent, COndavoxDoc& document)
    : QDialog(parent), ui_(std::make_unique<Ui::CManageUsersDlg>()), document_(document) {
  ui_->setupUi(this);
  ui_->loggedIn->installEventFilter(this);
  ui_->loggedOut->installEventFilter(this);
  connect(ui_->loggedIn, &QListWidget::itemSelectionChanged, this,
          [this] { OnSelected(ui_->loggedIn); });
  connect(ui_->loggedOut, &QListWidget::itemSelectionChanged, this,
          [this] { OnSelected(ui_->loggedOut); });
  connect(ui_->clear, &QPushButton::clicked, this, &CManageUsersDlg::OnClear);
  connect(ui_->addUser, &QPushButton::clicked, this, &CManageUsersDlg::OnAddUser);
  connect(ui_->applyChanges, &QPushButton::clicked, this, &CManageUsersDlg::OnApplyChanges);
  connect(ui_->deleteUser, &QPushButton::clicked, this, &CManageUsersDlg::OnDeleteUser);
  connect(ui_->close, &QPushButton::clicked, this, &QDialog::reject);
  document_.SetUsersDialog(this);
  Refresh();
}

CManageUsersDlg::~CManageUsersDlg() { document_.SetUsersDialog(nullptr); }

void CManageUsersDlg::RequestRefresh() {
  QMetaObject::invokeMethod(
      this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void CManageUsersDlg::Refresh() {
  ui_->loggedIn->clear();
  ui_->loggedOut->clear();
  ServerDataAccess access(document_.runner());
  Fill(*ui_->loggedIn, *ui_->loggedInCount, document_.loggedInLogins());
  Fill(*ui_->loggedOut, *ui_->loggedOutCount, document_.loggedOutLogins());
}

bool CManageUsersDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (watched == ui_->loggedIn) ui_->loggedOut->clearSelection();
    if (watched == ui_->loggedOut) ui_->loggedIn->clearSelection();
  }
  return QDialog::eventFilter(watched, event);
}

void CManageUsersDlg::OnSelected(QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return;
  const QString login = selected.front()->text();
  ServerDataAccess access(document_.runner());
  const CUserInfo* user = document_.users().Find(login.toStdString());
  if (user == nullptr) return;
  ui_->login->setText(login);
  ui_->name->setText(QString::fromStdString(user->name()));
  ui_->surname->setText(QString::fromStdString(user->lastName()));
  ui_->password->setText(QString::fromStdString(user->password()));
  ui_->banned->setChecked(user->banned() == 1);
  ui_->lastIp->setText(QString::fromStdString(user->ipAddress()));
}

void CManageUsersDlg::FocusLogin() { ui_->login->setFocus(); }

void CManageUsersDlg::OnClear() {
  FocusLogin();
  ui_->login->clear();
  ui_->name->clear();
  ui_->surname->clear();
  ui_->password->clear();
  ui_->lastIp->clear();
  ui_->banned->setChecked(false);
}

void CManageUsersDlg::OnAddUser() {
  const Status added = ServerAdministration(document_).AddUser(
      ui_->login->text().toStdString(), ui_->password->text().toStdString(),
      ui_->name->text().toStdString(), ui_->surname->text().toStdString(),
      ui_->banned->isChecked());
  if (!ShowFailure(this, added, QStringLiteral("Add User")) &&
      added.code() == Status::Code::kInvalidArgument) {
    FocusLogin();
    return;
  }
  Refresh();
}

void CManageUsersDlg::OnApplyChanges() {
  ServerAdministration::UserChange change;
  change.name = ui_->name->text().toStdString();
  change.ip = ui_->lastIp->text().toStdString();
  change.banned = ui_->banned->isChecked();
  change.password = ui_->password->text().toStdString();
  change.lastName = ui_->surname->text().toStdString();
  ShowFailure(this, ServerAdministration(document_).ChangeUser(ui_->login->text().toStdString(), change),
         QStringLiteral("Edit Unknow User"));
}

void CManageUsersDlg::OnDeleteUser() {
  const std::string login = ui_->login->text().toStdString();
  const Status removed = ServerAdministration(document_).DeleteUser(login);
  const QString title = QStringLiteral("Add User");
  if (!ShowFailure(this, removed, title) && removed.code() == Status::Code::kInvalidArgument) {
    FocusLogin();
    return;
  }
  ShowMessageBox(this, QString::fromStdString(ServerAdministration::UserDeletedText(login)), title);
  Refresh();
}

}  // namespace ondavox::server
