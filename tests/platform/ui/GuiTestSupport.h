#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/FilePickers.h"
#include "platform/ui/MessageBox.h"

namespace ondavox::test {

// The application every window test runs in (offscreen), made on first use.
void EnsureApplication();

// Records every message box instead of showing it, for the lifetime of the object.
class MessageRecorder {
 public:
  struct Message {
    QString text;
    QString title;
    MessageIcon icon;
  };
  MessageRecorder();
  ~MessageRecorder();
  const std::vector<Message>& messages() const { return messages_; }
  // The text of the last message, or empty.
  QString LastText() const { return messages_.empty() ? QString() : messages_.back().text; }
  void Clear() { messages_.clear(); }

 private:
  std::vector<Message> messages_;
  MessageBoxHook previous_;
};

// Answers the file and folder pickers with |answer| (nothing: cancelled) and keeps the
// requests, for the lifetime of the object.
class PickerScript {
 public:
  explicit PickerScript(std::optional<QString> answer);
  ~PickerScript();
  void Answer(std::optional<QString> answer) { answer_ = std::move(answer); }
  const std::vector<FilePickRequest>& requests() const { return requests_; }

 private:
  std::optional<QString> answer_;
  std::vector<FilePickRequest> requests_;
  FilePickHook previous_;
};

// Runs |act| on the next modal dialog once it is shown (from inside its modal loop).
void OnNextModal(std::function<void(QWidget*)> act);

// Processes window events until |done| holds or 10 seconds have passed; returns its last value.
bool ProcessUntil(const std::function<bool()>& done);

// Renders |widget| (shown offscreen) to |fileName| as PNG in the screenshot folder.
void Screenshot(QWidget& widget, const std::string& fileName);

// The child of |parent| named |name| (the object names of the forms), or a test failure.
template <class Widget>
Widget* Child(const QWidget& parent, const char* name) {
  Widget* child = parent.findChild<Widget*>(QString::fromLatin1(name));
  if (child == nullptr) ADD_FAILURE() << "no widget named " << name;
  return child;
}

}  // namespace ondavox::test
