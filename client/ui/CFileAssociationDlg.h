#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "client/core/ClientConfig.h"

namespace Ui {
class CFileAssociationDlg;
}

namespace ondavox::client {

// The "File Association" dialog: edits, in place, the caller's list of (extension, program)
// pairs. Adding an extension replaces its earlier pairs with one at the end of the list;
// removing takes away every pair of the selected row's extension. The list is changed as soon as
// a button acts, so it stays changed whichever button closes the dialog.
//
// The list is borrowed and must outlive the dialog. Window thread only.
class CFileAssociationDlg final : public QDialog {
  Q_OBJECT

 public:
  CFileAssociationDlg(std::vector<FileAssociation>& associations, QWidget* parent = nullptr);
  ~CFileAssociationDlg() override;

 private:
  void Fill();
  void OnRowDoubleClicked();
  void OnBrowse();
  void OnAdd();
  void OnRemove();
  void RemoveExtension(const std::string& extension);

  std::unique_ptr<Ui::CFileAssociationDlg> ui_;
  std::vector<FileAssociation>& associations_;
};

}  // namespace ondavox::client
