#include "server/admin/CManageUsersDlg.h"

#include <QEvent>

#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"
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

void CManageUsersDlg::ReloadLists() {
  {
    ServerDataAccess access(document_.runner());
    document_.RefreshLoginLists();
  }
  Refresh();
}

void CManageUsersDlg::SaveDatabase() {
  Status saved;
  {
    ServerDataAccess access(document_.runner());
    saved = document_.users().Save();
  }
  if (!saved.ok())
    ShowMessageBox(this, QString::fromStdString(saved.message()), MessageIcon::kError);
}

void CManageUsersDlg::OnAddUser() {
  const QString title = QStringLiteral("Add User");
  const std::string login = ui_->login->text().toStdString();
  if (login.empty()) {
    ShowMessageBox(this, QStringLiteral("Specify a login for the user."), title,
                   MessageIcon::kWarning);
    FocusLogin();
    return;
  }
  bool added = false;
  {
    ServerDataAccess access(document_.runner());
    if (document_.users().Find(login) == nullptr) {
      auto user = std::make_unique<CUserInfo>(
          login, ui_->password->text().toStdString(), ui_->name->text().toStdString(),
          ui_->surname->text().toStdString(), ui_->banned->isChecked() ? 1 : 0, 0, "", 0);
      added = document_.users().Add(user);
    }
  }
  if (!added) {  // message boxes never wait with the data lock held
    ShowMessageBox(this, QStringLiteral("Login is already used by another user."), title,
                   MessageIcon::kWarning);
    FocusLogin();
    return;
  }
  SaveDatabase();
  ReloadLists();
}

void CManageUsersDlg::OnApplyChanges() {
  bool found = false;
  {
    ServerDataAccess access(document_.runner());
    if (CUserInfo* user = document_.users().Find(ui_->login->text().toStdString())) {
      user->SetName(ui_->name->text().toStdString());
      user->SetIpAddress(ui_->lastIp->text().toStdString());
      user->SetBanned(ui_->banned->isChecked() ? 1 : 0);
      user->SetPassword(ui_->password->text().toStdString());
      user->SetLastName(ui_->surname->text().toStdString());
      found = true;
    }
  }
  if (!found) {
    ShowMessageBox(this, QStringLiteral("User unknow"), QStringLiteral("Edit Unknow User"),
                   MessageIcon::kWarning);
    return;
  }
  SaveDatabase();
}

void CManageUsersDlg::OnDeleteUser() {
  const QString login = ui_->login->text();
  bool removed = false;
  {
    ServerDataAccess access(document_.runner());
    removed = document_.users().Remove(login.toStdString());
  }
  const QString title = QStringLiteral("Add User");
  if (!removed) {
    ShowMessageBox(this, QStringLiteral("Unknow user.\nDelete user progress abort."), title,
                   MessageIcon::kWarning);
    FocusLogin();
    return;
  }
  SaveDatabase();
  ShowMessageBox(
      this, QStringLiteral("User ") + login + QStringLiteral(" has been removed from database."),
      title);
  ReloadLists();
}

}  // namespace ondavox::server
