#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "server/app/ServerLog.h"
#include "server/data/CDocInfo.h"

namespace Ui {
class CManagePlayListDlg;
}

namespace ondavox::server {

class COndavoxDoc;

// The "Manage Play List" dialog: shows the playlist, moves and deletes entries, and enqueues a
// document chosen in the documents dialog. While the server runs each change is announced to
// the clients at once, and an enqueue wakes the Fcast sender half a second after the
// announcement.
//
// Created on the control window's stack and shown modally; registered with the document as the
// open playlist dialog from construction to destruction (RequestRefresh: any thread, the
// reload runs on the window thread). Everything else: window thread only.
class CManagePlayListDlg final : public QDialog, public RefreshTarget {
  Q_OBJECT

 public:
  CManagePlayListDlg(QWidget* parent, COndavoxDoc& document);
  ~CManagePlayListDlg() override;

  void RequestRefresh() override;
  // Refills the list from the playlist.
  void Refresh();

 private:
  // The selected row, or -1.
  int SelectedRow() const;
  void SelectRow(int row);
  void Move(int step);
  void OnDelete();
  void OnChoose();
  void OnEnqueue();

  std::unique_ptr<Ui::CManagePlayListDlg> ui_;
  COndavoxDoc& document_;
  CDocInfo chosen_;
};

}  // namespace ondavox::server
