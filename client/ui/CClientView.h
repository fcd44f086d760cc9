#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "client/core/ConnectionListener.h"
#include "client/core/InfosBox.h"
#include "client/core/LogBox.h"
#include "client/core/PlaylistList.h"
#include "platform/ui/OrderedLogBox.h"

class QTreeWidgetItem;

namespace Ui {
class CClientView;
}

namespace ondavox::client {

class ClientRunner;

// The form of the client's main window: the playlist the server announces, the Infos box with
// the server's information texts, the Whois, File Infos and Send Comm. commands on the selected
// row, the Upload group (a file and a description, nothing sent) and the event log.
//
// It is the client log's box and the runner's Infos box, playlist list and connection listener
// from construction to destruction. The network threads call AppendLine, SetText, ReplaceRows
// and ConnectionChanged; each passes its change to the window thread through a queued
// invocation (ConnectionChanged as the connectionChanged signal), so the widgets are touched there
// only and the changes of one thread arrive in the order they were made. Everything else:
// window thread only. The runner is borrowed and outlives the view.
class CClientView final : public QWidget,
                          public LogBox,
                          public InfosBox,
                          public PlaylistList,
                          public ConnectionListener {
  Q_OBJECT

 public:
  explicit CClientView(ClientRunner& runner, QWidget* parent = nullptr);
  ~CClientView() override;

  // LogBox, InfosBox, PlaylistList: any thread.
  void AppendLine(const std::string& line) override;
  void SetText(const std::string& text) override;
  void ReplaceRows(const std::vector<PlaylistRow>& rows) override;
  // ConnectionListener: any thread.
  void ConnectionChanged() override;

 signals:
  // The runner's session opened or closed; on the window thread.
  void connectionChanged();

 private:
  // False, after logging why, when a command can't be sent now.
  bool CheckConnected();
  // The selected row, or null after logging "No item selected".
  const QTreeWidgetItem* SelectedRow();
  void OnWhois();
  void OnFileInfos();
  void OnSendCommand();
  void OnBrowse();
  void OnSend();
  void OnCancel();

  std::unique_ptr<Ui::CClientView> ui_;
  ClientRunner& runner_;
  OrderedLogBox log_;
};

}  // namespace ondavox::client
