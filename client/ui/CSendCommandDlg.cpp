#include "client/ui/CSendCommandDlg.h"

#include "ui_CSendCommandDlg.h"

namespace ondavox::client {

CSendCommandDlg::CSendCommandDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CSendCommandDlg>()) {
  ui_->setupUi(this);
  ui_->command->setFocus();
  connect(ui_->send, &QPushButton::clicked, this, &CSendCommandDlg::accept);
  connect(ui_->cancel, &QPushButton::clicked, this, &CSendCommandDlg::reject);
}

CSendCommandDlg::~CSendCommandDlg() = default;

void CSendCommandDlg::accept() {
  command = ui_->command->text().toStdString();
  QDialog::accept();
}

}  // namespace ondavox::client
