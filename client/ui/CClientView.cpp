#include "client/ui/CClientView.h"

#include <QFile>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

#include "client/core/ClientCommands.h"
#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "client/ui/CSendCommandDlg.h"
#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"
#include "ui_CClientView.h"

namespace ondavox::client {
namespace {

constexpr int kDocumentColumnWidth = 220;
constexpr int kOwnerColumnWidth = 90;

}  // namespace

CClientView::CClientView(ClientRunner& runner, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CClientView>()), runner_(runner) {
  ui_->setupUi(this);
  ui_->playlist->header()->setStretchLastSection(false);
  ui_->playlist->setColumnWidth(0, kDocumentColumnWidth);
  ui_->playlist->setColumnWidth(1, kOwnerColumnWidth);
  connect(ui_->whois, &QPushButton::clicked, this, &CClientView::OnWhois);
  connect(ui_->fileInfos, &QPushButton::clicked, this, &CClientView::OnFileInfos);
  connect(ui_->sendCommand, &QPushButton::clicked, this, &CClientView::OnSendCommand);
  connect(ui_->browse, &QPushButton::clicked, this, &CClientView::OnBrowse);
  connect(ui_->send, &QPushButton::clicked, this, &CClientView::OnSend);
  connect(ui_->cancel, &QPushButton::clicked, this, &CClientView::OnCancel);

  log_.Attach(ui_->log);
  ClientLog::Process().SetLogBox(this);
  runner_.PublishView(this, this, this);
}

CClientView::~CClientView() {
  // After these two calls no network thread calls the view again; changes already queued are
  // dropped with the view.
  runner_.PublishView(nullptr, nullptr);
  ClientLog::Process().SetLogBox(nullptr);
}

void CClientView::AppendLine(const std::string& line) { log_.Append(line); }

void CClientView::SetText(const std::string& text) {
  QMetaObject::invokeMethod(
      this, [this, text = QString::fromStdString(text)] { ui_->infos->setPlainText(text); },
      Qt::QueuedConnection);
}

void CClientView::ReplaceRows(const std::vector<PlaylistRow>& rows) {
  QMetaObject::invokeMethod(
      this,
      [this, rows] {
        ui_->playlist->clear();
        for (const PlaylistRow& row : rows) {
          ui_->playlist->addTopLevelItem(new QTreeWidgetItem(
              {QString::fromStdString(row.document), QString::fromStdString(row.owner)}));
        }
      },
      Qt::QueuedConnection);
}

void CClientView::ConnectionChanged() {
  QMetaObject::invokeMethod(this, &CClientView::connectionChanged, Qt::QueuedConnection);
}

bool CClientView::CheckConnected() {
  if (runner_.connected()) return true;
  AppendLog("You are not connected", "ERROR");
  return false;
}

const QTreeWidgetItem* CClientView::SelectedRow() {
  const QList<QTreeWidgetItem*> selected = ui_->playlist->selectedItems();
  if (selected.isEmpty()) {
    AppendLog("No item selected");
    return nullptr;
  }
  return selected.front();
}

void CClientView::OnWhois() {
  if (!CheckConnected()) return;
  const QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  runner_.SendTCP(ClientCommands::Whois(row->text(1).toStdString()));
}

void CClientView::OnFileInfos() {
  if (!CheckConnected()) return;
  const QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  runner_.SendTCP(ClientCommands::FileInfo(row->text(0).toStdString(), row->text(1).toStdString()));
}

void CClientView::OnSendCommand() {
  if (!CheckConnected()) return;
  CSendCommandDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted || dialog.command.empty()) return;
  runner_.SendTCP(ClientCommands::FreeText(dialog.command));
}

void CClientView::OnBrowse() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kOpenFile;
  request.parent = this;
  request.defaultSuffix = QStringLiteral("exe");
  request.filter = QStringLiteral(
      "All Media Files|*.wav;*.au;*.mp3;*.mpg|Text (*.txt)|*.txt|All files (*.*)|*.*|");
  const std::optional<QString> path = PickFile(request);
  if (!path) return;
  QFile file(*path);
  if (!file.open(QIODevice::ReadOnly)) {
    ShowMessageBox(this, QStringLiteral("%1 cannot be opened.").arg(*path), MessageIcon::kError);
    return;
  }
  const qint64 length = file.size();
  file.close();
  ui_->fileName->setText(*path);
  // The bar counts in int; the text shows the whole length. An empty range would make the bar
  // a busy indicator, so an empty file keeps a range of one.
  const int upper = static_cast<int>(std::min<qint64>(length, std::numeric_limits<int>::max()));
  ui_->progress->setRange(0, std::max(upper, 1));
  ui_->progress->setValue(0);
  ui_->progressText->setText(QStringLiteral("%1 / %2").arg(ui_->progress->value()).arg(length));
}

void CClientView::OnSend() {
  if (ui_->fileName->text().isEmpty()) {
    ShowMessageBox(this, QStringLiteral("You have to select a file"), QStringLiteral("Error"));
    return;
  }
  if (ui_->description->text().isEmpty()) {
    ShowMessageBox(this, QStringLiteral("You have to enter a description"),
                   QStringLiteral("Error"));
    return;
  }
  ui_->cancel->setEnabled(true);
  ui_->send->setEnabled(false);
}

void CClientView::OnCancel() {
  ui_->cancel->setEnabled(false);
  ui_->send->setEnabled(true);
}

}  // namespace ondavox::client
