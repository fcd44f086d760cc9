#pragma once

#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/OrderedLogBox.h"
#include "platform/Status.h"
#include "server/app/ServerLog.h"
#include "server/control/ControlCommands.h"

class QAction;
class QLineEdit;

namespace Ui {
class COndavoxView;
}

namespace ondavox::server {

class COndavoxDoc;

// The control window's form: shows and edits the settings, starts and stops the server, opens
// the three administration dialogs, saves the settings and shows the server's log. Its five
// server commands are actions that the main frame's "Server" menu shares with the buttons, and
// they follow the buttons' enabled state, so Start cannot run while the server runs.
//
// The document is borrowed and outlives the view. Window thread only, except AppendLog (any
// thread: lines reach the log box in the order they were appended).
class COndavoxView final : public QWidget, public ServerLog {
  Q_OBJECT

 public:
  // Long enough for an operator to read a message box the start or stop sequence shows.
  static constexpr std::chrono::minutes kWindowPatience{2};
  static constexpr std::chrono::milliseconds kClosingCheck{100};

  COndavoxView(COndavoxDoc& document, QWidget* parent = nullptr);
  ~COndavoxView() override;

  void AppendLog(std::string_view line) override;

  // Puts the settings into the fields (at start and after the document file was opened).
  void ShowSettings();
  // The stop sequence, also run when the program quits while the server runs.
  Status OnStopServer();
  // Start and stop for the administration channel: each runs the buttons' sequence (their
  // checks, messages and state) on the window thread and waits up to kWindowPatience for it.
  // The functions run on any thread but the window's.
  ControlCommands::ServerSwitch ChannelSwitch();
  // Makes every call of ChannelSwitch's functions, waiting or to come, return at once with a
  // refusal; before the channel is closed, so that its sessions can be joined. Any thread.
  void EndChannelCalls();

  QAction* startAction() const { return start_; }
  QAction* stopAction() const { return stop_; }
  QAction* usersAction() const { return users_; }
  QAction* documentsAction() const { return documents_; }
  QAction* playlistAction() const { return playlist_; }

 private:
  void ConnectSettingFields();
  void SetRunningState(bool running);
  // Step 1 of the start sequence: the view's own copies of the fields, read until one is
  // refused.
  void ReadFieldCopies();
  // False, after the error message, when |text| up to its last '/' is not a folder.
  bool CheckFolderOf(const QString& text, QLineEdit& field, const QString& message);
  Status OnStartServer();
  Status RunOnWindowThread(std::function<Status()> sequence);
  void OnManageUsers();
  void OnManageDocuments();
  void OnManagePlayList();
  void OnPickFolder();
  void OnPickDatabase(QLineEdit& field, std::string& setting, const QString& defaultName,
                      const QString& filter);

  std::unique_ptr<Ui::COndavoxView> ui_;
  COndavoxDoc& document_;
  std::atomic<bool> channelClosing_{false};
  OrderedLogBox log_;
  QAction* start_;
  QAction* stop_;
  QAction* users_;
  QAction* documents_;
  QAction* playlist_;

  // The copies step 1 of the start sequence reads; they serve only its checks.
  int32_t checkedTcpPort_ = 0;
  int32_t checkedMulticastPort_ = 0;
  QString checkedMulticastIP_;
  QString checkedDocumentPath_;
  QString checkedDocumentDatabase_;
  QString checkedUserDatabase_;
};

}  // namespace ondavox::server
