// The server program with its control window.
#include <QApplication>

#include "common/WinsockStartup.h"
#include "platform/CurrentDirectory.h"
#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"
#include "server/ui/CMainFrame.h"
#include "server/ui/DocumentLoading.h"

int main(int argc, char** argv) {
  ondavox::WinsockStartup();
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
  QCoreApplication::setApplicationName(QStringLiteral("Ondavox"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Ondavox"));

  const std::string directory = ondavox::CurrentDirectory();
  ondavox::server::COndavoxDoc document(
      directory, ondavox::server::FcastSenderThread::ComponentFactory([](const std::string& text) {
        ondavox::ShowMessageBox(nullptr, QString::fromStdString(text),
                                ondavox::MessageIcon::kError);
      }));
  if (!ondavox::server::LoadDocumentOrReport(document)) return 1;

  ondavox::server::CMainFrame frame(document, directory);
  frame.show();
  frame.ShowHostTitle();
  return application.exec();
}
