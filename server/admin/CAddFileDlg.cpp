#include "server/admin/CAddFileDlg.h"

#include <filesystem>

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
  const Status readable = ServerAdministration::CheckReadable(path);
  if (!readable.ok()) {
    ShowMessageBox(this, QString::fromStdString(readable.message()), MessageIcon::kError);
    return;
  }
  fileName_ = std::filesystem::path(path).filename().string();
  fullPath_ = path;
  ui_->file->setText(*chosen);
}

ServerAdministration::NewDocument CAddFileDlg::document() const {
  return {fullPath_, description(), streamable() == 1, persistent() == 1};
}

void CAddFileDlg::OnOk() {
  ServerAdministration::NewDocument chosen = document();
  if (ui_->file->text().isEmpty()) chosen.path.clear();
  const Status checked = ServerAdministration::CheckNewDocument(chosen);
  if (checked.ok()) {
    accept();
    return;
  }
  ShowMessageBox(this, QString::fromStdString(checked.message()),
                 QStringLiteral("Error Adding File"), MessageIcon::kWarning);
}

}  // namespace ondavox::server
