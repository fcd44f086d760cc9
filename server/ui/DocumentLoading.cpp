#include "server/ui/DocumentLoading.h"

#include "platform/ui/MessageBox.h"
#include "server/app/COndavoxDoc.h"

namespace ondavox::server {

bool LoadDocumentOrReport(COndavoxDoc& document) {
  const Status loaded = document.Load();
  if (loaded.ok()) return true;
  ShowMessageBox(nullptr,
                 QStringLiteral("La création d'un document vide a échoué.\n\n") +
                     QString::fromStdString(loaded.message()),
                 MessageIcon::kError);
  return false;
}

}  // namespace ondavox::server
