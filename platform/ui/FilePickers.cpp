#include "platform/ui/FilePickers.h"

#include <QFileDialog>
#include <QStringList>

namespace ondavox {
namespace {

FilePickHook& Hook() {
  static FilePickHook hook;
  return hook;
}

std::optional<QString> SystemPicker(const FilePickRequest& request) {
  QFileDialog dialog(request.parent, request.title, request.startFolder);
  switch (request.kind) {
    case FilePickRequest::Kind::kOpenFile:
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
      break;
    case FilePickRequest::Kind::kSaveFile:
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix(request.defaultSuffix);
      dialog.selectFile(request.defaultName);
      break;
    case FilePickRequest::Kind::kFolder:
      dialog.setFileMode(QFileDialog::Directory);
      dialog.setOption(QFileDialog::ShowDirsOnly);
      break;
  }
  if (!request.filter.isEmpty()) dialog.setNameFilter(ToolkitFilter(request.filter));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace

QString ToolkitFilter(const QString& quotedFilter) {
  const QStringList parts = quotedFilter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    // A name without its patterns in parentheses ("All Media Files") takes them from its pair.
    if (!name.contains(QLatin1Char('('))) {
      name += QStringLiteral(" (%1)").arg(
          QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')));
    }
    name.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    filters << name;
  }
  return filters.join(QStringLiteral(";;"));
}

std::optional<QString> PickFile(const FilePickRequest& request) {
  return Hook() ? Hook()(request) : SystemPicker(request);
}

FilePickHook SetFilePickHook(FilePickHook hook) {
  std::swap(Hook(), hook);
  return hook;
}

}  // namespace ondavox
