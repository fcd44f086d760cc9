#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

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
  const std::string& owner() const { return owner_; }
  const std::string& fullPath() const { return fullPath_; }
  const std::string& mimeType() const { return mimeType_; }
  std::string description() const;
  int32_t persistent() const;
  int32_t streamable() const;

 private:
  void OnBrowse();
  void OnOk();

  std::unique_ptr<Ui::CAddFileDlg> ui_;
  std::string startFolder_;
  std::string fileName_;
  std::string owner_ = "root";
  std::string fullPath_;
  std::string mimeType_ = "unknown";
};

}  // namespace ondavox::server
