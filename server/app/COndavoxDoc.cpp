#include "server/app/COndavoxDoc.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/AtomicFile.h"
#include "server/data/ArchiveReader.h"
#include "server/data/ArchiveWriter.h"
#include "server/data/DatabaseFile.h"
#include "server/net/ServerDataAccess.h"

namespace ondavox::server {
namespace {

constexpr int32_t kHighestPort = 65535;

bool IsPort(int32_t value) { return value >= 1 && value <= kHighestPort; }

}  // namespace

COndavoxDoc::COndavoxDoc(const std::string& directory,
                         ServerRunner::FcastSenderFactory fcastSenderFactory)
    : directory_(directory),
      config_(directory + "/server.ini", directory),
      keyFolder_(config_.path),
      users_(config_.clientDatabase),
      documents_(config_.documentDatabase),
      runner_(documents_, users_, std::move(fcastSenderFactory)) {
  runner_.AddListener(this);
}

COndavoxDoc::~COndavoxDoc() {
  if (IsRunning()) Stop();
}

Status COndavoxDoc::Load() {
  for (const std::string& file :
       {config_.fileName(), config_.clientDatabase, config_.documentDatabase,
        keyFolder_ + "/" + ServerKey::kPrivateKeyFile,
        keyFolder_ + "/" + ServerKey::kPublicKeyFile}) {
    RemoveStaleTemporaries(file);
  }
  if (config_.documentPath == ServerConfig::DefaultDocumentPath(directory_)) {
    std::error_code ignored;  // a folder that cannot be made is reported when the server starts
    std::filesystem::create_directory(config_.documentPath, ignored);
  }
  ServerDataAccess access(runner_);
  Status status = users_.Load();
  if (!status.ok()) return status;
  return documents_.Load();
}

StatusOr<ServerKey> COndavoxDoc::Key() {
  MutexLock lock(keyMu_);
  if (!key_) {
    StatusOr<ServerKey> loaded = ServerKey::LoadOrCreate(keyFolder_);
    if (!loaded.ok()) return loaded.status();
    key_ = std::move(*loaded);
  }
  return *key_;
}

Status COndavoxDoc::Start() {
  MutexLock lifecycle(lifecycleMu_);
  if (IsRunning()) return Status();
  if (!IsPort(config_.Port) || !IsPort(config_.MulticastPort)) {
    return Status::InvalidArgument("the TCP port or the multicast port is not a valid port");
  }
  if (Status interfaces = config_.CheckInterfaces(); !interfaces.ok()) return interfaces;
  const StatusOr<ServerKey> key = Key();
  if (!key.ok()) return key.status();
  ServerRunner::Settings settings;
  settings.tcpPort = static_cast<uint16_t>(config_.Port);
  settings.multicastBindPort = static_cast<uint16_t>(config_.MulticastPort);
  settings.multicastIP = config_.MulticastIP;
  settings.multicastPort = static_cast<uint16_t>(config_.MulticastPort);
  settings.fcastIP = config_.FcastIP;
  settings.fcastPort = config_.FcastPort;
  settings.fcastRound = config_.FcastRound;
  settings.fcastRate = config_.FcastRate;
  settings.multicastInterface = config_.MulticastInterface;
  settings.fcastInterface = config_.FcastInterface;
  settings.signingSeed = key->seed();
  settings.publicKeyText = key->PublicKeyText();
  settings.maxConnections = config_.MaxConnections;
  settings.maxUnauthenticated = config_.MaxUnauthenticated;
  settings.loginTimeoutSeconds = config_.LoginTimeout;
  runner_.Start(settings);
  running_ = true;
  ServerDataAccess access(runner_);
  RefreshLoginLists();
  return Status();
}

Status COndavoxDoc::Stop() {
  MutexLock lifecycle(lifecycleMu_);
  runner_.Close();  // outside the data scope: connections may be waiting for the lock
  running_ = false;
  uint64_t ticket = 0;
  Status documentsSaved;
  {
    ServerDataAccess access(runner_);
    loggedOut_.clear();
    loggedIn_.clear();
    users_.ResetOnlineStatus();
    ticket = runner_.userSaver().Submit();
    documentsSaved = documents_.Save();
  }
  // Through the saver, after any save still under way for an administration operation, so
  // that its older snapshot cannot replace this one.
  const Status usersSaved = runner_.userSaver().Wait(ticket);
  return usersSaved.ok() ? documentsSaved : usersSaved;
}

Status COndavoxDoc::SaveDocumentFile(const std::string& path) const {
  ArchiveWriter writer;
  writer.WriteI32(config_.Port);
  writer.WriteI32(config_.MulticastPort);
  writer.WriteString(config_.MulticastIP);
  return WriteFileAtomically(path, writer.bytes(), FileAccess::kOwnerOnly);
}

Status COndavoxDoc::OpenDocumentFile(const std::string& path) {
  std::optional<std::string> bytes;
  const Status status = ReadDatabaseFile(path, &bytes);
  if (!status.ok()) return status;
  if (!bytes) return Status::IoError(path + ": no such file");
  ArchiveReader reader(*bytes, path);
  const int32_t port = reader.ReadI32();
  const int32_t multicastPort = reader.ReadI32();
  std::string multicastIP = reader.ReadString();
  if (!reader.ok()) return reader.status();
  config_.Port = port;
  config_.MulticastPort = multicastPort;
  config_.MulticastIP = std::move(multicastIP);
  return Status();
}

void COndavoxDoc::SetLog(ServerLog* log) {
  MutexLock lock(logMu_);
  log_ = log;
  if (log_ == nullptr) return;
  for (const std::string& line : pendingLines_) log_->AppendLog(line);
  pendingLines_.clear();
}

void COndavoxDoc::SetUsersDialog(RefreshTarget* dialog) {
  MutexLock lock(dialogsMu_);
  usersDialog_ = dialog;
}

void COndavoxDoc::SetPlaylistDialog(RefreshTarget* dialog) {
  MutexLock lock(dialogsMu_);
  playlistDialog_ = dialog;
}

void COndavoxDoc::AppendLog(std::string_view line) {
  MutexLock lock(logMu_);
  logHistory_.Add(line, std::time(nullptr));
  if (log_ != nullptr) {
    log_->AppendLog(line);
  } else {
    pendingLines_.emplace_back(line);
  }
}

void COndavoxDoc::RefreshLoginLists() {
  loggedOut_.clear();
  loggedIn_.clear();
  users_.ListLoginsByStatus(loggedOut_, 0);
  users_.ListLoginsByStatus(loggedIn_, 1);
}

void COndavoxDoc::UsersChanged() {
  RefreshLoginLists();
  MutexLock lock(dialogsMu_);
  if (usersDialog_ != nullptr) usersDialog_->RequestRefresh();
}

void COndavoxDoc::PlaylistChanged() {
  MutexLock lock(dialogsMu_);
  if (playlistDialog_ != nullptr) playlistDialog_->RequestRefresh();
}

void COndavoxDoc::OnServerEvent(const ServerEvent& event) {
  bool announce = false;
  {
    // One scope per event: its log line and its list changes come in the same order as the
    // events themselves, whatever thread posts them.
    ServerDataAccess access(runner_);
    const std::string& param = event.GetParam(0);
    switch (event.GetType()) {
      case USER_NEW:
        AppendLog("A new client was added to the database : " + param);
        UsersChanged();
        break;
      case USER_DEL:
        AppendLog("A client was removed from the database : " + param);
        UsersChanged();
        break;
      case USER_ONLINE:
        AppendLog("New client logged : " + param);
        UsersChanged();
        break;
      case USER_OFFLINE:
        AppendLog(param + " has logged out.");
        UsersChanged();
        break;
      case PLAYLIST_UPDATED: {
        PlaylistChanged();
        AppendLog("The playlist has been updated.");
        announce = IsRunning();
        break;
      }
      case LOG_FAILURE:
      case LOG_INFO:
        AppendLog(param);
        break;
      default:
        AppendLog("Unknow Event");
        break;
    }
  }
  if (announce) runner_.SendPlaylist();
}

}  // namespace ondavox::server
