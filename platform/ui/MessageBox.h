#pragma once

#include <QString>
#include <functional>

#include "platform/Status.h"

class QWidget;

namespace ondavox {

// The icon of a modal message box.
enum class MessageIcon { kNone, kInformation, kWarning, kError };

// One message shown to the user: its text, its title and its icon.
struct MessageBoxRequest {
  QWidget* parent = nullptr;
  QString text;
  QString title;
  MessageIcon icon = MessageIcon::kNone;
};

// Every message box of the window programs goes through ShowMessageBox: by default a modal box
// with one OK button; tests replace the hook to record the text and title without a modal loop.
// Window thread only.
using MessageBoxHook = std::function<void(const MessageBoxRequest&)>;

void ShowMessageBox(QWidget* parent, const QString& text, const QString& title,
                    MessageIcon icon = MessageIcon::kNone);
// A message without a title of its own: the program's name is its title.
void ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon);
// Shows a failed |status|: a refusal (InvalidArgument) as a warning titled |title|, any other
// failure as an error under the program's name. Nothing when it is ok; returns status.ok().
bool ShowFailure(QWidget* parent, const Status& status, const QString& title);
// Replaces the hook (an empty hook restores the modal box) and returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace ondavox
