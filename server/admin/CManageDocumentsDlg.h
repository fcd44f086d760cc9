#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "server/data/CDocInfo.h"

class QTreeWidgetItem;

namespace Ui {
class CManageDocumentsDlg;
}

namespace ondavox::server {

class COndavoxDoc;

// How the documents dialog is used: managing the document database from the control window,
// or choosing the document to enqueue for the playlist dialog.
enum class PickerMode { Manage = 1, PickForPlaylist = 2 };

// The "Manage Documents" dialog: lists every document of the document database and adds,
// modifies and deletes documents, saving the database file after each change. In
// PickForPlaylist mode its OK hands back a copy of the chosen document (resultRecord()).
// Created on the caller's stack, shown modally. Window thread only; every database access
// holds the server data lock.
class CManageDocumentsDlg final : public QDialog {
  Q_OBJECT

 public:
  CManageDocumentsDlg(QWidget* parent, COndavoxDoc& document, PickerMode mode);
  ~CManageDocumentsDlg() override;

  // After OK in PickForPlaylist mode: the chosen document.
  const CDocInfo& resultRecord() const { return result_; }

 private:
  void Fill();
  // The selected row, or null.
  QTreeWidgetItem* SelectedRow() const;
  void OnSelectionChanged();
  void OnAdd();
  void OnModify();
  void OnDelete();
  void OnOk();

  std::unique_ptr<Ui::CManageDocumentsDlg> ui_;
  COndavoxDoc& document_;
  const PickerMode mode_;
  CDocInfo result_;
};

}  // namespace ondavox::server
