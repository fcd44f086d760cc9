#include "client/ui/CFoldersDlg.h"

#include "platform/ui/FilePickers.h"
#include "ui_CFoldersDlg.h"

namespace ondavox::client {

CFoldersDlg::CFoldersDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CFoldersDlg>()) {
  ui_->setupUi(this);
  connect(ui_->browse, &QPushButton::clicked, this, &CFoldersDlg::OnBrowse);
  connect(ui_->buttons, &QDialogButtonBox::accepted, this, &CFoldersDlg::accept);
  connect(ui_->buttons, &QDialogButtonBox::rejected, this, &CFoldersDlg::reject);
}

CFoldersDlg::~CFoldersDlg() = default;

void CFoldersDlg::SetDownloadDirectory(const std::string& folder) {
  downloadDirectory = folder;
  ui_->folder->setText(QString::fromStdString(folder));
}

void CFoldersDlg::OnBrowse() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kFolder;
  request.parent = this;
  request.title = QStringLiteral("Select a folder to put recorded files : ");
  const std::optional<QString> folder = PickFile(request);
  if (!folder || folder->isEmpty()) return;
  ui_->folder->setText(*folder);
}

void CFoldersDlg::accept() {
  downloadDirectory = ui_->folder->text().toStdString();
  if (!downloadDirectory.empty() && downloadDirectory.back() != '/') downloadDirectory += '/';
  QDialog::accept();
}

}  // namespace ondavox::client
