#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "server/app/ServerAdministration.h"

namespace Ui {
class CAddFileDlg;
}

namespace ondavox::server {

// The "Add File to Database" dialog: asks for a file (through the file picker), a description
// and the two flags of a new document. Created on the caller's stack by the documents dialog,
// shown modally; after OK the caller reads the values. Window thread only.
class CAddFileDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAddFileDlg(QWidget* parent);
  ~CAddFileDlg() override;

  // The folder the file picker starts in; empty leaves the choice to the picker.
  void SetStartFolder(const std::string& folder) { startFolder_ = folder; }

  const std::string& fileName() const { return fileName_; }
  const std::string& fullPath() const { return fullPath_; }
  std::string description() const;
  int32_t persistent() const;
  int32_t streamable() const;
  // The values as the administration's Add File takes them.
  ServerAdministration::NewDocument document() const;

 private:
  void OnBrowse();
  void OnOk();

  std::unique_ptr<Ui::CAddFileDlg> ui_;
  std::string startFolder_;
  std::string fileName_;
  std::string fullPath_;
};

}  // namespace ondavox::server
