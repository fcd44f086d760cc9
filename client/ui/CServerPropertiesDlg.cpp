#include "client/ui/CServerPropertiesDlg.h"

#include <QRegularExpressionValidator>

#include "platform/ui/FieldValidation.h"
#include "ui_CServerPropertiesDlg.h"

namespace ondavox::client {

CServerPropertiesDlg::CServerPropertiesDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CServerPropertiesDlg>()) {
  ui_->setupUi(this);
  // Typing stops at 15 characters; a longer group from the file is still shown whole.
  ui_->groupName->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral(".{0,%1}").arg(kGroupMaxChars)), ui_->groupName));
  connect(ui_->buttons, &QDialogButtonBox::accepted, this, &CServerPropertiesDlg::accept);
  connect(ui_->buttons, &QDialogButtonBox::rejected, this, &CServerPropertiesDlg::reject);
}

CServerPropertiesDlg::~CServerPropertiesDlg() = default;

void CServerPropertiesDlg::SetValues(const std::string& address, int udpPort, int port,
                                     const std::string& groupAddress,
                                     const std::string& keyFingerprint) {
  serverIP = address;
  multicastPort = udpPort;
  tcpPort = port;
  group = groupAddress;
  ui_->serverIP->setText(QString::fromStdString(serverIP));
  ui_->dataPort->setText(QString::number(multicastPort));
  ui_->parametersPort->setText(QString::number(tcpPort));
  ui_->groupName->setText(QString::fromStdString(group));
  ui_->serverKey->setText(keyFingerprint.empty() ? QStringLiteral("none")
                                                 : QString::fromStdString(keyFingerprint));
}

void CServerPropertiesDlg::accept() {
  const std::optional<int32_t> udpPort = ReadIntegerField(*ui_->dataPort);
  if (!udpPort) return;
  const std::optional<int32_t> port = ReadIntegerField(*ui_->parametersPort);
  if (!port) return;
  if (!CheckFieldLength(*ui_->groupName, kGroupMaxChars)) return;
  serverIP = ui_->serverIP->text().toStdString();
  multicastPort = *udpPort;
  tcpPort = *port;
  group = ui_->groupName->text().toStdString();
  QDialog::accept();
}

}  // namespace ondavox::client
