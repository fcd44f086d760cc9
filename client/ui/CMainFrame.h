#pragma once

#include <QMainWindow>
#include <string>

#include "client/core/ClientConfig.h"
#include "common/MakeHostTitle.h"

class QAction;
class QToolBar;

namespace ondavox {
class Launcher;
}  // namespace ondavox

namespace ondavox::client {

class CClientView;
class ReceptionProgress;
class ClientRunner;

// The client's main window around the form: owns the settings (client.ini, loaded from the
// current directory at construction) and carries the user's commands: Connect (log in or
// register), Disconnect, the server and user properties, the file associations, the download
// folder, Save Parameters, Help and About; the menus, the tool bar with Connect and Disconnect,
// and the status bar with the reception progress. Connect and Server Properties are offered while
// the runner is disconnected, Disconnect while it is connected; the commands follow the runner's
// state when the view signals a change and before a menu opens, and each handler checks the state
// again itself.
//
// The runner and the launcher (which opens the help file) are borrowed and outlive the frame.
// Window thread only.
class CMainFrame final : public QMainWindow {
  Q_OBJECT

 public:
  CMainFrame(ClientRunner& runner, Launcher& launcher);
  ~CMainFrame() override;

  // Titles the window "ZENTALO Client - " with the host's name and first address when both can
  // be looked up; otherwise it keeps "Palvoro - Client".
  void ShowHostTitle(HostResolver& resolver = SystemHostResolver());

  ClientConfig& config() { return config_; }
  CClientView& view() const { return *view_; }
  ReceptionProgress& receptionProgress() const { return *receptionProgress_; }

  QAction* connectAction() const { return connect_; }
  QAction* disconnectAction() const { return disconnect_; }
  QAction* serverPropertiesAction() const { return serverProperties_; }
  QAction* userPropertiesAction() const { return userProperties_; }
  QAction* fileAssociationAction() const { return fileAssociation_; }
  QAction* foldersAction() const { return folders_; }
  QAction* saveParametersAction() const { return saveParameters_; }
  QAction* helpAction() const { return help_; }
  QAction* aboutAction() const { return about_; }

  // Enables the commands after the runner's state.
  void UpdateCommands();

 protected:
  // The commands' accelerators come before the editing keys of the focused field (Ctrl+A,
  // Ctrl+U, ... in a text field), as the accelerator table does.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddCommand(const QString& text, const QKeySequence& keys, const QString& prompt,
                      void (CMainFrame::*handler)());
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  // The network threads read the download folder and the associations from their own copy.
  void PublishSettings();

  void OnConnect();
  void OnDisconnect();
  void OnServerProperties();
  void OnUserProperties();
  void OnFileAssociation();
  void OnFolders();
  void OnSaveParameters();
  void OnHelp();
  void OnAbout();

  ClientRunner& runner_;
  Launcher& launcher_;
  ClientConfig config_;
  const std::string startDirectory_;
  CClientView* view_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  ReceptionProgress* receptionProgress_ = nullptr;

  QAction* connect_ = nullptr;
  QAction* disconnect_ = nullptr;
  QAction* serverProperties_ = nullptr;
  QAction* userProperties_ = nullptr;
  QAction* fileAssociation_ = nullptr;
  QAction* folders_ = nullptr;
  QAction* saveParameters_ = nullptr;
  QAction* exit_ = nullptr;
  QAction* help_ = nullptr;
  QAction* about_ = nullptr;
};

}  // namespace ondavox::client
