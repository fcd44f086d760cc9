#include "client/ui/CUserPropertiesDlg.h"

#include <QRegularExpressionValidator>

#include "platform/ui/FieldValidation.h"
#include "platform/ui/MessageBox.h"
#include "ui_CUserPropertiesDlg.h"

namespace ondavox::client {
namespace {

constexpr char kNoName[] = "---";

}  // namespace

CUserPropertiesDlg::CUserPropertiesDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CUserPropertiesDlg>()) {
  ui_->setupUi(this);
  // Typing stops at 16 characters; a longer password from the file is still shown whole.
  ui_->password->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral(".{0,%1}").arg(kPasswordMaxChars)), ui_->password));
  connect(ui_->newUser, &QCheckBox::clicked, this, &CUserPropertiesDlg::OnNewUser);
  connect(ui_->existingUser, &QCheckBox::clicked, this, &CUserPropertiesDlg::OnExistingUser);
  connect(ui_->buttons, &QDialogButtonBox::accepted, this, &CUserPropertiesDlg::accept);
  connect(ui_->buttons, &QDialogButtonBox::rejected, this, &CUserPropertiesDlg::reject);
  SetUser({}, {});
}

CUserPropertiesDlg::~CUserPropertiesDlg() = default;

void CUserPropertiesDlg::SetUser(const std::string& userLogin, const std::string& userPassword) {
  login = userLogin;
  password = userPassword;
  ui_->login->setText(QString::fromStdString(login));
  ui_->password->setText(QString::fromStdString(password));
  ui_->rePassword->setText(ui_->password->text());
  ui_->existingUser->setChecked(true);
  ui_->newUser->setChecked(false);
  OnExistingUser();
}

void CUserPropertiesDlg::OnNewUser() {
  ui_->existingUser->setChecked(false);
  for (QLineEdit* field : {ui_->login, ui_->password, ui_->rePassword, ui_->name, ui_->lastName}) {
    field->clear();
  }
  for (QLineEdit* field : {ui_->rePassword, ui_->name, ui_->lastName}) field->setEnabled(true);
}

void CUserPropertiesDlg::OnExistingUser() {
  ui_->newUser->setChecked(false);
  for (QLineEdit* field : {ui_->rePassword, ui_->name, ui_->lastName}) field->setEnabled(false);
}

bool CUserPropertiesDlg::ReadFields() {
  if (!CheckFieldLength(*ui_->password, kPasswordMaxChars)) return false;
  login = ui_->login->text().toStdString();
  password = ui_->password->text().toStdString();
  name = ui_->name->text().toStdString();
  lastName = ui_->lastName->text().toStdString();
  existingUser = ui_->existingUser->isChecked() ? 1 : 0;
  newUser = ui_->newUser->isChecked() ? 1 : 0;
  return true;
}

void CUserPropertiesDlg::accept() {
  if (!ReadFields()) return;
  const QString title = QStringLiteral("Error");
  if (login.empty()) {
    ShowMessageBox(this, QStringLiteral("The login you chose is invalid"), title,
                   MessageIcon::kWarning);
    return;
  }
  if (password.empty()) {
    ShowMessageBox(this, QStringLiteral("You must specify a password"), title,
                   MessageIcon::kWarning);
    return;
  }
  if (ui_->name->text().isEmpty()) ui_->name->setText(QString::fromLatin1(kNoName));
  if (ui_->lastName->text().isEmpty()) ui_->lastName->setText(QString::fromLatin1(kNoName));
  if (ui_->newUser->isChecked() && ui_->password->text() != ui_->rePassword->text()) {
    ShowMessageBox(this, QStringLiteral("Password is not the same"), title, MessageIcon::kWarning);
    return;
  }
  if (!ReadFields()) return;
  QDialog::accept();
}

}  // namespace ondavox::client
