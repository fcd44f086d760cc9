#include "client/core/FcastReceiver.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "client/core/ClientLog.h"
#include "platform/Trace.h"

namespace ondavox::client {

FcastReceiver::FcastReceiver(std::shared_ptr<FcastReceiverObject> receiver,
                             const ReceptionSettings& settings, Launcher& launcher,
                             StoredHandler onStored)
    : receiver_(std::move(receiver)),
      settings_(settings),
      launcher_(launcher),
      onStored_(std::move(onStored)) {
  if (receiver_ == nullptr) {
    DebugOut("CoCreateInstance Recv KO\n");
    AppendLog(std::string(kFcastLibraryName) + " non registered", "FCAST");
    return;
  }
  DebugOut("CoCreateInstance Recv OK\n");
  events_ = std::make_unique<SinkFcastRcvEvent>(
      receiver_, [this](long fileId, const std::string& name, long size) {
        FileComplete(fileId, name, size);
      });
}

bool FcastReceiver::Start(const std::string& group, int port, const std::string& folder) {
  const Reception reception{group, port, folder};
  {
    MutexLock lock(mu_);
    // The repeated announcement of the transfer under way.
    if (running_ == reception && events_->Running()) return true;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) DebugOut("Can't create the download folder " + folder + ": " + error.message() + "\n");

  MutexLock lock(mu_);
  running_.reset();
  // A failure is logged once; the repeated announcements retry it quietly.
  const bool quiet = failed_ == reception;
  failed_ = reception;
  if (receiver_ == nullptr || receiver_->Init(group, port, folder) < 0) {
    if (!quiet) AppendLog("Init KO", "FCAST");
    return false;
  }
  AppendLog("Init OK", "FCAST");
  folder_ = folder;
  events_->Resume();
  if (receiver_->Start() < 0) {
    if (!quiet) AppendLog("Start KO", "FCAST");
    return false;
  }
  AppendLog("Start OK", "FCAST");
  failed_.reset();
  running_ = reception;
  return true;
}

std::string FcastReceiver::FullPath(const std::string& folder, const std::string& name) {
  // The component stores the file inside the folder whether or not its text ends in "/".
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::optional<FileAssociation> FcastReceiver::Match(
    const std::vector<FileAssociation>& associations, const std::string& name) {
  for (const FileAssociation& association : associations) {
    if (name.ends_with(association.extension)) return association;
  }
  return std::nullopt;
}

void FcastReceiver::FileComplete(long fileId, const std::string& name, long size) {
  char line[256];
  std::snprintf(line, sizeof line, "File complete, Id=%ld Name=%s size=%ld", fileId, name.c_str(),
                size);
  DebugOut(std::string(line) + "\n");
  AppendLog("File received", "FCAST");

  std::string folder;
  {
    MutexLock lock(mu_);
    folder = folder_;
  }
  const std::string path = FullPath(folder, name);
  if (auto association = Match(settings_.Associations(), name)) {
    launcher_.Launch(association->program, {path});
  } else {
    launcher_.OpenWithDesktop(path);
  }
  AppendLog(path, "EXEC");
  if (onStored_) onStored_(path, name);
}

}  // namespace ondavox::client
