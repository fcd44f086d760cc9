#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace ondavox {

// The system's file and folder pickers, through a hook that tests replace to answer without a
// modal loop. Filters are written as the programs quote them ("Client Database (*.dat)|*.dat|
// All Files (*.*)|*.*||") and turned into the toolkit's form. Nothing changes the program's
// current directory. Window thread only.

struct FilePickRequest {
  enum class Kind { kOpenFile, kSaveFile, kFolder };
  Kind kind = Kind::kOpenFile;
  QWidget* parent = nullptr;
  QString title;
  QString startFolder;    // empty: the toolkit's choice
  QString defaultName;    // save: the name offered
  QString defaultSuffix;  // save: added to a name typed without one
  QString filter;         // the quoted form above
};

// The chosen path, or nothing when the user cancelled.
using FilePickHook = std::function<std::optional<QString>(const FilePickRequest&)>;

std::optional<QString> PickFile(const FilePickRequest& request);
// Replaces the hook (an empty hook restores the system's pickers); returns the previous one.
FilePickHook SetFilePickHook(FilePickHook hook);
// "Name (*.x)|*.x|All Files (*.*)|*.*||" as the toolkit's "Name (*.x);;All Files (*)".
QString ToolkitFilter(const QString& quotedFilter);

}  // namespace ondavox
