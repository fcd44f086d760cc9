#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CUserPropertiesDlg;
}

namespace ondavox::client {

// The "User properties" dialog: login and password of an existing user, or the login, password
// (typed twice), name and last name of a new one. The caller hands in login and password and,
// after OK, reads the six values back; an empty name or last name comes back as "---". The two
// check boxes only untick each other, so both may end unticked (both flags 0). Opened by the
// main frame's Connect and User Properties commands. Window thread only.
class CUserPropertiesDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPasswordMaxChars = 16;

  explicit CUserPropertiesDlg(QWidget* parent = nullptr);
  ~CUserPropertiesDlg() override;

  // The opening state: the login and password shown, "Existing User" ticked.
  void SetUser(const std::string& userLogin, const std::string& userPassword);

  std::string login;
  std::string password;
  std::string name;
  std::string lastName;
  int existingUser = 0;
  int newUser = 0;

 public slots:
  void accept() override;

 private:
  void OnNewUser();
  void OnExistingUser();
  // False, after the platform's message, when the password is too long.
  bool ReadFields();

  std::unique_ptr<Ui::CUserPropertiesDlg> ui_;
};

}  // namespace ondavox::client
