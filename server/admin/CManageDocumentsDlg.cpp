#include "server/admin/CManageDocumentsDlg.h"

#include <QHeaderView>

#include "platform/ui/MessageBox.h"
#include "server/admin/CAddFileDlg.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/net/ServerDataAccess.h"
#include "ui_CManageDocumentsDlg.h"

namespace ondavox::server {
namespace {

enum Column { kOwner, kRelativePath, kFile, kDescription, kMimeType, kStreamable, kPersisting };
constexpr int kColumnWidths[] = {100, 150, 100, 265, 70, 40, 40};

QString YesNo(int32_t flag) { return flag == 1 ? QStringLiteral("Yes") : QStringLiteral("No"); }

}  // namespace

CManageDocumentsDlg::CManageDocumentsDlg(QWidget* parent, COndavoxDoc& document, PickerMode mode)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CManageDocumentsDlg>()),
      document_(document),
      mode_(mode) {
  ui_->setupUi(this);
  for (int column = 0; column < static_cast<int>(std::size(kColumnWidths)); ++column) {
    ui_->documents->header()->resizeSection(column, kColumnWidths[column]);
  }
  connect(ui_->documents, &QTreeWidget::itemSelectionChanged, this,
          &CManageDocumentsDlg::OnSelectionChanged);
  connect(ui_->add, &QPushButton::clicked, this, &CManageDocumentsDlg::OnAdd);
  connect(ui_->modify, &QPushButton::clicked, this, &CManageDocumentsDlg::OnModify);
  connect(ui_->deleteDocument, &QPushButton::clicked, this, &CManageDocumentsDlg::OnDelete);
  connect(ui_->ok, &QPushButton::clicked, this, &CManageDocumentsDlg::OnOk);
  connect(ui_->close, &QPushButton::clicked, this, &QDialog::reject);
  Fill();
  const bool picking = mode_ == PickerMode::PickForPlaylist;
  ui_->ok->setVisible(picking);
  ui_->deleteDocument->setEnabled(!picking);
}

CManageDocumentsDlg::~CManageDocumentsDlg() = default;

void CManageDocumentsDlg::Fill() {
  ui_->documents->clear();
  ServerDataAccess access(document_.runner());
  document_.documents().GetStore().ForEach([this](const CDocInfo& record) {
    auto* row = new QTreeWidgetItem(ui_->documents);
    row->setText(kOwner, QString::fromStdString(record.owner()));
    row->setText(kRelativePath, QString::fromStdString(record.path()));
    row->setText(kFile, QString::fromStdString(record.fileName()));
    row->setText(kDescription, QString::fromStdString(record.description()));
    row->setText(kMimeType, QString::fromStdString(record.mimeType()));
    row->setText(kStreamable, YesNo(record.streamable()));
    row->setText(kPersisting, YesNo(record.persisting()));
  });
}

QTreeWidgetItem* CManageDocumentsDlg::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ui_->documents->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

void CManageDocumentsDlg::OnSelectionChanged() {
  const QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  ui_->description->setText(row->text(kDescription));
  ui_->streamable->setChecked(row->text(kStreamable) == QStringLiteral("Yes"));
  ui_->persisting->setChecked(row->text(kPersisting) == QStringLiteral("Yes"));
}

void CManageDocumentsDlg::OnDelete() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  const std::string owner = row->text(kOwner).toStdString();
  const std::string file = row->text(kFile).toStdString();
  delete row;
  ui_->documents->clearSelection();
  const Status removed = ServerAdministration(document_).DeleteDocument(owner, file);
  if (removed.code() != Status::Code::kInvalidArgument) ShowFailure(this, removed, QString());
}

void CManageDocumentsDlg::OnModify() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  ServerAdministration::DocumentChange change;
  change.description = ui_->description->text().toStdString();
  change.streamable = ui_->streamable->isChecked();
  change.persisting = ui_->persisting->isChecked();
  const Status changed = ServerAdministration(document_).ChangeDocument(
      row->text(kOwner).toStdString(), row->text(kFile).toStdString(), change);
  if (changed.code() == Status::Code::kInvalidArgument) return;  // deleted meanwhile
  row->setText(kDescription, ui_->description->text());
  if (!ShowFailure(this, changed, QString())) return;
  row->setText(kStreamable, YesNo(*change.streamable ? 1 : 0));
  row->setText(kPersisting, YesNo(*change.persisting ? 1 : 0));
}

void CManageDocumentsDlg::OnAdd() {
  CAddFileDlg add(this);
  add.SetStartFolder(document_.config().documentPath);
  if (add.exec() != QDialog::Accepted) return;
  const StatusOr<CDocInfo> added = ServerAdministration(document_).AddDocument(add.document());
  if (added.ok()) {
    Fill();
  } else if (added.status().code() == Status::Code::kInvalidArgument) {
    // The dialog's own checks passed: the refusal is a document already stored.
    ShowMessageBox(this, QString::fromStdString(added.status().message()), QStringLiteral("pb"));
    Fill();
  } else {
    ShowFailure(this, added.status(), QString());
  }
}

void CManageDocumentsDlg::OnOk() {
  if (mode_ == PickerMode::Manage) {
    accept();
    return;
  }
  const QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) {
    ShowMessageBox(this, QStringLiteral("You have to select a file in the file list."),
                   QStringLiteral("PlayList add file"), MessageIcon::kWarning);
    return;
  }
  StatusOr<CDocInfo> record = ServerAdministration(document_).FindDocument(
      row->text(kOwner).toStdString(), row->text(kFile).toStdString());
  if (record.ok()) {
    result_ = std::move(*record);
    accept();
    return;
  }
  ShowMessageBox(this, QString::fromStdString(record.status().message()),
                 QStringLiteral("Database Error"));
  reject();
}

}  // namespace ondavox::server
