#include "tests/platform/ui/GuiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

namespace ondavox::test {

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "ondavox-test";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* app = new QApplication(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ondavox"));
    return app;
  }();
  (void)application;
}

MessageRecorder::MessageRecorder() {
  previous_ = SetMessageBoxHook([this](const MessageBoxRequest& request) {
    messages_.push_back({request.text, request.title, request.icon});
  });
}

MessageRecorder::~MessageRecorder() { SetMessageBoxHook(std::move(previous_)); }

PickerScript::PickerScript(std::optional<QString> answer) : answer_(std::move(answer)) {
  previous_ = SetFilePickHook([this](const FilePickRequest& request) {
    requests_.push_back(request);
    return answer_;
  });
}

PickerScript::~PickerScript() { SetFilePickHook(std::move(previous_)); }

void OnNextModal(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer(QCoreApplication::instance());
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
}

bool ProcessUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 10000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void Screenshot(QWidget& widget, const std::string& fileName) {
  const std::filesystem::path folder = ONDAVOX_SCREENSHOT_DIR;
  std::filesystem::create_directories(folder);
  widget.show();
  QCoreApplication::processEvents();
  const QString path = QString::fromStdString((folder / fileName).string());
  EXPECT_TRUE(widget.grab().save(path, "PNG")) << fileName;
}

}  // namespace ondavox::test

// The font configuration library keeps a cache for the life of the process, which the leak
// checker of sanitizer builds would report at exit; it is none of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
