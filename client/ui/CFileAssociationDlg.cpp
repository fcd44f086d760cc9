#include "client/ui/CFileAssociationDlg.h"

#include <QFile>
#include <QHeaderView>
#include <algorithm>

#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"
#include "ui_CFileAssociationDlg.h"

namespace ondavox::client {

CFileAssociationDlg::CFileAssociationDlg(std::vector<FileAssociation>& associations,
                                         QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CFileAssociationDlg>()),
      associations_(associations) {
  ui_->setupUi(this);
  ui_->associations->header()->setStretchLastSection(false);
  ui_->associations->setColumnWidth(0, 40);
  ui_->associations->setColumnWidth(1, 200);
  connect(ui_->associations, &QTreeWidget::itemDoubleClicked, this,
          &CFileAssociationDlg::OnRowDoubleClicked);
  connect(ui_->browse, &QPushButton::clicked, this, &CFileAssociationDlg::OnBrowse);
  connect(ui_->add, &QPushButton::clicked, this, &CFileAssociationDlg::OnAdd);
  connect(ui_->remove, &QPushButton::clicked, this, &CFileAssociationDlg::OnRemove);
  connect(ui_->ok, &QPushButton::clicked, this, &CFileAssociationDlg::accept);
  connect(ui_->cancel, &QPushButton::clicked, this, &CFileAssociationDlg::reject);
  Fill();
}

CFileAssociationDlg::~CFileAssociationDlg() = default;

void CFileAssociationDlg::Fill() {
  ui_->associations->clear();
  for (const FileAssociation& pair : associations_) {
    ui_->associations->addTopLevelItem(new QTreeWidgetItem(
        {QString::fromStdString(pair.extension), QString::fromStdString(pair.program)}));
  }
}

void CFileAssociationDlg::OnRowDoubleClicked() {
  const QTreeWidgetItem* row = ui_->associations->currentItem();
  if (row == nullptr) return;
  ui_->extension->setText(row->text(0));
  ui_->program->setText(row->text(1));
}

void CFileAssociationDlg::OnBrowse() {
  FilePickRequest request;
  request.kind = FilePickRequest::Kind::kOpenFile;
  request.parent = this;
  request.defaultSuffix = QStringLiteral("exe");
  request.filter = QStringLiteral("Program (*.exe)|*.exe|All files (*.*)|*.*|");
  const std::optional<QString> program = PickFile(request);
  if (!program) return;
  QFile file(*program);
  if (!file.open(QIODevice::ReadOnly)) {
    ShowMessageBox(this, QStringLiteral("%1 cannot be opened.").arg(*program), MessageIcon::kError);
    return;
  }
  ui_->program->setText(*program);
}

void CFileAssociationDlg::RemoveExtension(const std::string& extension) {
  std::erase_if(associations_,
                [&](const FileAssociation& pair) { return pair.extension == extension; });
}

void CFileAssociationDlg::OnAdd() {
  const std::string extension = ui_->extension->text().toStdString();
  const std::string program = ui_->program->text().toStdString();
  if (extension.empty() || program.empty()) {
    ShowMessageBox(this, QStringLiteral("Null argument"), QStringLiteral("Error"));
    return;
  }
  RemoveExtension(extension);
  associations_.push_back({extension, program});
  Fill();
}

void CFileAssociationDlg::OnRemove() {
  const QList<QTreeWidgetItem*> selected = ui_->associations->selectedItems();
  RemoveExtension(selected.isEmpty() ? std::string() : selected.front()->text(0).toStdString());
  Fill();
}

}  // namespace ondavox::client
