#pragma once

#include <QMainWindow>
#include <string>

#include "common/MakeHostTitle.h"

class QToolBar;

namespace ondavox::server {

class COndavoxDoc;
class COndavoxView;
class TransferStatus;

// The server's main window around the control form: the menus (File, Server, Display, ?), the
// tool bar, the status bar with its prompts, the transfer's progress and lock indicators, help, the
// About box, and the document file's Ctrl+S and Ctrl+O. Closing it while the server runs stops the
// server first, exactly as the Stop button does, so no user is left saved as online.
//
// The document is borrowed and outlives the frame. Window thread only.
class CMainFrame final : public QMainWindow {
  Q_OBJECT

 public:
  // |startDirectory| is where the help file is looked for.
  CMainFrame(COndavoxDoc& document, std::string startDirectory);

  COndavoxView& view() const { return *view_; }
  TransferStatus& transferStatus() const { return *transferStatus_; }
  // Titles the window "Server", then "ZENTALO Server - " with the host's name and first
  // address when both can be looked up.
  void ShowHostTitle(HostResolver& resolver = SystemHostResolver());

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void OnHelp();
  void OnAbout();
  void OnSaveDocumentFile();
  void OnOpenDocumentFile();

  COndavoxDoc& document_;
  const std::string startDirectory_;
  COndavoxView* view_;
  QToolBar* toolBar_ = nullptr;
  TransferStatus* transferStatus_ = nullptr;
};

}  // namespace ondavox::server
