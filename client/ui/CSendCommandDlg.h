#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CSendCommandDlg;
}

namespace ondavox::client {

// The "Send Command" dialog: one command line typed by the user. "Send" closes it with OK and
// the caller reads |command|. Opened by the main view's "Send Comm." button. Window thread only.
class CSendCommandDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CSendCommandDlg(QWidget* parent = nullptr);
  ~CSendCommandDlg() override;

  std::string command;

 public slots:
  void accept() override;

 private:
  std::unique_ptr<Ui::CSendCommandDlg> ui_;
};

}  // namespace ondavox::client
