// The client program with its main window.
#include <QApplication>
#include <string>
#include <vector>

#include "client/core/ClientRunner.h"
#include "client/ui/CMainFrame.h"
#include "platform/Launcher.h"
#include "platform/ui/MessageBox.h"

int main(int argc, char** argv) {
  // The network core comes first: it starts networking and prepares the Fcast receiver before
  // any window exists, so the receiver's creation messages wait for the application.
  ondavox::ProcessLauncher launcher;
  std::vector<std::string> earlyMessages;
  ondavox::client::ClientRunner runner(launcher, [&earlyMessages] {
    return ondavox::client::ClientRunner::LoadFcastReceiver(
        [&earlyMessages](const std::string& text) { earlyMessages.push_back(text); });
  });

  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Client"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Client"));
  for (const std::string& text : earlyMessages) {
    ondavox::ShowMessageBox(nullptr, QString::fromStdString(text), ondavox::MessageIcon::kError);
  }

  ondavox::client::CMainFrame frame(runner, launcher);
  frame.show();
  frame.ShowHostTitle();
  return application.exec();
}
