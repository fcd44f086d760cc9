// The server program with its control window, and the administration channel (ondavox.sock in
// the server's folder, or $ONDAVOX_SOCKET) so that ondavoxctl works with it as with ondavoxd.
#include <QApplication>

#include "common/WinsockStartup.h"
#include "platform/CurrentDirectory.h"
#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"
#include "server/control/ControlChannel.h"
#include "server/ui/CMainFrame.h"
#include "server/ui/COndavoxView.h"
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
  ondavox::server::ControlChannel channel(document, frame.view().ChannelSwitch());
  const ondavox::Status opened =
      channel.Open(ondavox::server::ControlChannel::ChoosePath("", directory));
  if (!opened.ok()) document.AppendLog("Administration channel not opened: " + opened.message());
  frame.show();
  frame.ShowHostTitle();
  const int status = application.exec();
  frame.view().EndChannelCalls();
  channel.Close();
  return status;
}
