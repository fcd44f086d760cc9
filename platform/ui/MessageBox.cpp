#include "platform/ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace ondavox {
namespace {

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kWarning:
      return QMessageBox::Warning;
    case MessageIcon::kError:
      return QMessageBox::Critical;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void ShowMessageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon) {
  const MessageBoxRequest request{parent, text, title, icon};
  if (Hook()) {
    Hook()(request);
    return;
  }
  QMessageBox box(ToQt(icon), title, text, QMessageBox::Ok, parent);
  box.exec();
}

void ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon) {
  ShowMessageBox(parent, text, QApplication::applicationDisplayName(), icon);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  std::swap(Hook(), hook);
  return hook;
}

bool ShowFailure(QWidget* parent, const Status& status, const QString& title) {
  if (status.ok()) return true;
  const QString text = QString::fromStdString(status.message());
  if (status.code() == Status::Code::kInvalidArgument) {
    ShowMessageBox(parent, text, title, MessageIcon::kWarning);
  } else {
    ShowMessageBox(parent, text, MessageIcon::kError);
  }
  return false;
}

}  // namespace ondavox
