#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CServerPropertiesDlg;
}

namespace ondavox::client {

// The "Server Properties" dialog: the server's address, its two ports and the multicast group,
// and, read-only, the fingerprint of the pinned server key ("none" when nothing is pinned; only
// clearing serverKey in client.ini unpins it). The caller sets the values, shows the dialog
// modally and reads the four editable ones back after OK; a
// port that is not a whole number or a group longer than 15 characters keeps the dialog open
// with the platform's message. Window thread only.
class CServerPropertiesDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kGroupMaxChars = 15;

  explicit CServerPropertiesDlg(QWidget* parent = nullptr);
  ~CServerPropertiesDlg() override;

  void SetValues(const std::string& serverIP, int multicastPort, int tcpPort,
                 const std::string& group, const std::string& keyFingerprint = {});

  std::string serverIP;
  int multicastPort = 0;
  int tcpPort = 0;
  std::string group;

 public slots:
  void accept() override;

 private:
  std::unique_ptr<Ui::CServerPropertiesDlg> ui_;
};

}  // namespace ondavox::client
