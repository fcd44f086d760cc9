#pragma once

#include <QDialog>
#include <memory>

#include "server/app/ServerLog.h"

class QListWidget;

namespace Ui {
class CManageUsersDlg;
}

namespace ondavox::server {

class COndavoxDoc;

// The "Manage Users" dialog: shows the logged-in and logged-out logins of the document, one
// user's record, and adds, changes and deletes users. Each change is saved to the user
// database file at once (with every user offline, as the file always stores them).
//
// Created on the control window's stack and shown modally; registered with the document as the
// open users dialog from construction to destruction, so that events can ask it to reload its
// lists (RequestRefresh: any thread; the reload itself runs on the window thread). Everything
// else: window thread only, every data access under the server data lock.
class CManageUsersDlg final : public QDialog, public RefreshTarget {
  Q_OBJECT

 public:
  CManageUsersDlg(QWidget* parent, COndavoxDoc& document);
  ~CManageUsersDlg() override;

  void RequestRefresh() override;
  // Refills both list boxes and their counts from the document's login lists.
  void Refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnSelected(QListWidget* list);
  void OnClear();
  void OnAddUser();
  void OnApplyChanges();
  void OnDeleteUser();
  void FocusLogin();

  std::unique_ptr<Ui::CManageUsersDlg> ui_;
  COndavoxDoc& document_;
};

}  // namespace ondavox::server
