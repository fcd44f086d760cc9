#include "server/admin/CManageDocumentsDlg.h"

#include <QHeaderView>

#include "platform/ui/MessageBox.h"
#include "server/admin/CAddFileDlg.h"
#include "server/app/COndavoxDoc.h"
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

std::string CManageDocumentsDlg::RowKey(const QTreeWidgetItem& row) {
  return CDocInfo::MakeKey(row.text(kOwner).toStdString(), row.text(kFile).toStdString());
}

void CManageDocumentsDlg::OnSelectionChanged() {
  const QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  ui_->description->setText(row->text(kDescription));
  ui_->streamable->setChecked(row->text(kStreamable) == QStringLiteral("Yes"));
  ui_->persisting->setChecked(row->text(kPersisting) == QStringLiteral("Yes"));
}

bool CManageDocumentsDlg::SaveDatabase() {
  Status saved;
  {
    ServerDataAccess access(document_.runner());
    saved = document_.documents().Save();
  }
  if (saved.ok()) return true;
  ShowMessageBox(this, QString::fromStdString(saved.message()), MessageIcon::kError);
  return false;
}

void CManageDocumentsDlg::OnDelete() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  const std::string key = RowKey(*row);
  delete row;
  ui_->documents->clearSelection();
  {
    ServerDataAccess access(document_.runner());
    document_.documents().Remove(key);
  }
  SaveDatabase();
}

void CManageDocumentsDlg::OnModify() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  const bool streamable = ui_->streamable->isChecked();
  const bool persisting = ui_->persisting->isChecked();
  {
    ServerDataAccess access(document_.runner());
    CDocInfo* record = document_.documents().Find(RowKey(*row));
    if (record == nullptr) return;
    row->setText(kDescription, ui_->description->text());
    record->SetDescription(ui_->description->text().toStdString());
    record->SetStreamable(streamable ? 1 : 0);
    record->SetPersisting(persisting ? 1 : 0);
  }
  if (!SaveDatabase()) return;
  row->setText(kStreamable, YesNo(streamable ? 1 : 0));
  row->setText(kPersisting, YesNo(persisting ? 1 : 0));
}

void CManageDocumentsDlg::OnAdd() {
  CAddFileDlg add(this);
  add.SetStartFolder(document_.config().documentPath);
  if (add.exec() != QDialog::Accepted) return;
  auto record = std::make_unique<CDocInfo>(add.fileName(), "root", add.fullPath(), "unknown",
                                           add.streamable(), add.persistent(), add.description());
  bool added = false;
  {
    ServerDataAccess access(document_.runner());
    added = document_.documents().Add(record);
  }
  if (!added) {
    ShowMessageBox(this, QStringLiteral("pb : peut-ête déjà inséré dns la database"),
                   QStringLiteral("pb"));
  }
  if (SaveDatabase()) Fill();
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
  bool found = false;
  {
    ServerDataAccess access(document_.runner());
    if (const CDocInfo* record = document_.documents().Find(RowKey(*row))) {
      result_ = *record;
      found = true;
    }
  }
  if (found) {
    accept();
    return;
  }
  ShowMessageBox(this, QStringLiteral("Unknow file ") + row->text(kFile),
                 QStringLiteral("Database Error"));
  reject();
}

}  // namespace ondavox::server
