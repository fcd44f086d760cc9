#include "server/admin/CAddFileDlg.h"

#include <filesystem>
#include <fstream>

#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"
#include "ui_CAddFileDlg.h"

namespace ondavox::server {

CAddFileDlg::CAddFileDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CAddFileDlg>()) {
  ui_->setupUi(this);
  connect(ui_->browse, &QPushButton::clicked, this, &CAddFileDlg::OnBrowse);
  connect(ui_->ok, &QPushButton::clicked, this, &CAddFileDlg::OnOk);
  connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CAddFileDlg::~CAddFileDlg() = default;

std::string CAddFileDlg::description() const { return ui_->description->text().toStdString(); }
int32_t CAddFileDlg::persistent() const { return ui_->persistent->isChecked() ? 1 : 0; }
int32_t CAddFileDlg::streamable() const { return ui_->streamable->isChecked() ? 1 : 0; }

void CAddFileDlg::OnBrowse() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kOpenFile;
  request.parent = this;
  request.startFolder = QString::fromStdString(startFolder_);
  request.filter = QStringLiteral("All Files (*.*)|*.*||");
  const std::optional<QString> chosen = PickFile(request);
  if (!chosen) return;
  const std::string path = chosen->toStdString();
  if (!std::ifstream(path, std::ios::binary).is_open()) {
    ShowMessageBox(this, QStringLiteral("%1 cannot be opened.").arg(*chosen), MessageIcon::kError);
    return;
  }
  fileName_ = std::filesystem::path(path).filename().string();
  fullPath_ = path;
  ui_->file->setText(*chosen);
}

void CAddFileDlg::OnOk() {
  const QString title = QStringLiteral("Error Adding File");
  if (ui_->file->text().isEmpty()) {
    ShowMessageBox(this, QStringLiteral("You must select a file to add."), title,
                   MessageIcon::kWarning);
  } else if (ui_->description->text().isEmpty()) {
    ShowMessageBox(this, QStringLiteral("You must specify a description to the file."), title,
                   MessageIcon::kWarning);
  } else {
    accept();
  }
}

}  // namespace ondavox::server
