#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CFoldersDlg;
}

namespace ondavox::client {

// The "Folders Option" dialog: the download directory, chosen with the folder picker. After OK
// |downloadDirectory| holds the field's text ending with one "/" (the Fcast receiver puts the
// file name right after it); an empty field is handed back empty. Window thread only.
class CFoldersDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CFoldersDlg(QWidget* parent = nullptr);
  ~CFoldersDlg() override;

  void SetDownloadDirectory(const std::string& folder);

  std::string downloadDirectory;

 public slots:
  void accept() override;

 private:
  void OnBrowse();

  std::unique_ptr<Ui::CFoldersDlg> ui_;
};

}  // namespace ondavox::client
