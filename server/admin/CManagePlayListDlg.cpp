#include "server/admin/CManagePlayListDlg.h"

#include <QHeaderView>

#include "server/admin/CManageDocumentsDlg.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "ui_CManagePlayListDlg.h"

namespace ondavox::server {
namespace {

constexpr int kColumnWidths[] = {100, 70, 190};

}  // namespace

CManagePlayListDlg::CManagePlayListDlg(QWidget* parent, COndavoxDoc& document)
    : QDialog(parent), ui_(std::make_unique<Ui::CManagePlayListDlg>()), document_(document) {
  ui_->setupUi(this);
  for (int column = 0; column < static_cast<int>(std::size(kColumnWidths)); ++column) {
    ui_->playlist->header()->resizeSection(column, kColumnWidths[column]);
  }
  connect(ui_->up, &QPushButton::clicked, this, [this] { Move(1); });
  connect(ui_->down, &QPushButton::clicked, this, [this] { Move(-1); });
  connect(ui_->deleteEntry, &QPushButton::clicked, this, &CManagePlayListDlg::OnDelete);
  connect(ui_->browse, &QPushButton::clicked, this, &CManagePlayListDlg::OnChoose);
  connect(ui_->enqueue, &QPushButton::clicked, this, &CManagePlayListDlg::OnEnqueue);
  connect(ui_->close, &QPushButton::clicked, this, &QDialog::reject);
  document_.SetPlaylistDialog(this);
  Refresh();
}

CManagePlayListDlg::~CManagePlayListDlg() { document_.SetPlaylistDialog(nullptr); }

void CManagePlayListDlg::RequestRefresh() {
  QMetaObject::invokeMethod(
      this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void CManagePlayListDlg::Refresh() {
  const int selected = SelectedRow();
  ui_->playlist->clear();
  for (const CDocInfo& entry : ServerAdministration(document_).ListPlaylist()) {
    auto* row = new QTreeWidgetItem(ui_->playlist);
    row->setText(0, QString::fromStdString(entry.fileName()));
    row->setText(1, QString::fromStdString(entry.owner()));
    row->setText(2, QString::fromStdString(entry.description()));
  }
  SelectRow(selected);
}

int CManagePlayListDlg::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ui_->playlist->selectedItems();
  return selected.isEmpty() ? -1 : ui_->playlist->indexOfTopLevelItem(selected.front());
}

void CManagePlayListDlg::SelectRow(int row) {
  QTreeWidgetItem* item = ui_->playlist->topLevelItem(row);
  if (item == nullptr) return;
  ui_->playlist->setCurrentItem(item);
  item->setSelected(true);
}

void CManagePlayListDlg::Move(int step) {
  const int row = SelectedRow();
  if (row < 0) return;
  const StatusOr<int> position = ServerAdministration(document_).MoveEntry(row, step);
  Refresh();
  ui_->playlist->setFocus();
  if (position.ok()) SelectRow(*position);
}

void CManagePlayListDlg::OnDelete() {
  const int row = SelectedRow();
  if (row < 0) return;
  ServerAdministration(document_).RemoveEntry(row);
  ui_->playlist->clearSelection();
  Refresh();
}

void CManagePlayListDlg::OnChoose() {
  CManageDocumentsDlg picker(this, document_, PickerMode::PickForPlaylist);
  if (picker.exec() == QDialog::Accepted) {
    chosen_ = picker.resultRecord();
    ui_->file->setText(QString::fromStdString(chosen_.fileName()));
    ui_->description->setText(QString::fromStdString(chosen_.description()));
    ui_->enqueue->setEnabled(true);
  } else {
    ui_->file->clear();
    ui_->description->clear();
  }
}

void CManagePlayListDlg::OnEnqueue() {
  ServerAdministration(document_).Enqueue(chosen_);
  Refresh();
  ui_->enqueue->setEnabled(false);
  ui_->file->clear();
  ui_->description->clear();
}

}  // namespace ondavox::server
