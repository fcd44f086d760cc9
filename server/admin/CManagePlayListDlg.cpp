#include "server/admin/CManagePlayListDlg.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTimer>

#include "server/admin/CManageDocumentsDlg.h"
#include "server/app/COndavoxDoc.h"
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
  ui_->playlist->clear();
  Playlist& playlist = document_.GetPlaylist();
  for (int i = 0; i < playlist.GetCount(); ++i) {
    const std::optional<CDocInfo> entry = playlist.GetAt(i);
    if (!entry) break;  // the Fcast sender removed the head meanwhile
    auto* row = new QTreeWidgetItem(ui_->playlist);
    row->setText(0, QString::fromStdString(entry->fileName()));
    row->setText(1, QString::fromStdString(entry->owner()));
    row->setText(2, QString::fromStdString(entry->description()));
  }
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

void CManagePlayListDlg::AnnounceIfRunning() {
  if (document_.IsRunning()) document_.runner().SendPlaylist();
}

void CManagePlayListDlg::Move(int step) {
  const int row = SelectedRow();
  if (row < 0 || (step > 0 && row == 0)) return;
  const std::optional<int> position = document_.GetPlaylist().Move(row, step);
  Refresh();
  ui_->playlist->setFocus();
  if (position) SelectRow(*position);
  AnnounceIfRunning();
}

void CManagePlayListDlg::OnDelete() {
  const int row = SelectedRow();
  if (row < 0) return;
  document_.GetPlaylist().RemoveAt(row);
  delete ui_->playlist->takeTopLevelItem(row);
  AnnounceIfRunning();
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
  document_.GetPlaylist().AddTail(chosen_);
  Refresh();
  if (document_.IsRunning()) {
    document_.runner().SendPlaylist();
    // The runner lives as long as the program, the dialog may not: the wake-up is the
    // application's.
    ServerRunner& runner = document_.runner();
    QTimer::singleShot(kWakeDelayMs, QCoreApplication::instance(),
                       [&runner] { runner.WakeFcastSender(); });
  }
  ui_->enqueue->setEnabled(false);
  ui_->file->clear();
  ui_->description->clear();
}

}  // namespace ondavox::server
