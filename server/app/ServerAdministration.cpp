#include "server/app/ServerAdministration.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"

namespace ondavox::server {
namespace {

Status Refused(std::string text) { return Status::InvalidArgument(std::move(text)); }

Status NoEntry(int index) {
  return Refused("There is no entry " + std::to_string(index) + " in the playlist.");
}

}  // namespace

ServerAdministration::Snapshot ServerAdministration::GetSnapshot() {
  Snapshot snapshot;
  const ServerConfig& config = document_.config();
  snapshot.running = document_.IsRunning();
  snapshot.tcpPort = config.Port;
  snapshot.multicastGroup = config.MulticastIP;
  snapshot.multicastPort = config.MulticastPort;
  snapshot.fcastGroup = config.FcastIP;
  snapshot.fcastPort = config.FcastPort;
  snapshot.fcastRate = config.FcastRate;
  snapshot.fcastRounds = config.FcastRound;
  snapshot.playlistLength = document_.GetPlaylist().GetCount();
  snapshot.transfer = document_.runner().TransferProgress();
  ServerDataAccess access(document_.runner());
  snapshot.online = document_.loggedInLogins();
  return snapshot;
}

Status ServerAdministration::StartServer() {
  if (document_.IsRunning()) return Status();
  const Status started = document_.Start();
  if (!started.ok()) {
    document_.AppendLog("Server start error.");
    document_.AppendLog(started.message());
    return started;
  }
  document_.AppendLog("Server started.");
  return Status();
}

Status ServerAdministration::StopServer() {
  if (!document_.IsRunning()) return Status();
  const Status saved = document_.Stop();
  document_.AppendLog(saved.ok() ? "Server stopped." : "Server Stop error.");
  return saved;
}

std::vector<ServerAdministration::DeliveryRow> ServerAdministration::Deliveries() {
  std::vector<std::string> online;
  {
    ServerDataAccess access(document_.runner());
    online = document_.loggedInLogins();
  }
  std::vector<DeliveryRow> rows;
  for (DeliveryLedger::Transfer& transfer : document_.runner().deliveries().Transfers()) {
    DeliveryRow& row = rows.emplace_back();
    for (const std::string& login : online) {
      const bool holds = std::any_of(transfer.holders.begin(), transfer.holders.end(),
                                     [&](const auto& holder) { return holder.login == login; });
      if (!holds) row.onlineWithout.push_back(login);
    }
    row.transfer = std::move(transfer);
  }
  return rows;
}

std::vector<ServerAdministration::UserRow> ServerAdministration::ListUsers() {
  std::vector<UserRow> rows;
  ServerDataAccess access(document_.runner());
  for (const auto* logins : {&document_.loggedOutLogins(), &document_.loggedInLogins()}) {
    for (const std::string& login : *logins) {
      const CUserInfo* user = document_.users().Find(login);
      if (user == nullptr) continue;
      rows.push_back({user->login(), user->name(), user->lastName(), user->ipAddress(),
                      user->online() == 1, user->banned() == 1});
    }
  }
  return rows;
}

Status ServerAdministration::SaveUsers() { return document_.runner().userSaver().Save(); }

Status ServerAdministration::SaveDocuments() {
  ServerDataAccess access(document_.runner());
  return document_.documents().Save();
}

Status ServerAdministration::AddUser(const std::string& login, const std::string& password,
                                     const std::string& name, const std::string& lastName,
                                     bool banned) {
  if (login.empty()) return Refused("Specify a login for the user.");
  {
    ServerDataAccess access(document_.runner());
    auto user =
        std::make_unique<CUserInfo>(login, password, name, lastName, banned ? 1 : 0, 0, "", 0);
    if (!document_.users().Add(user)) return Refused("Login is already used by another user.");
    document_.UsersChanged();
  }
  return SaveUsers();
}

Status ServerAdministration::ChangeUser(const std::string& login, const UserChange& change) {
  {
    ServerDataAccess access(document_.runner());
    CUserInfo* user = document_.users().Find(login);
    if (user == nullptr) return Refused("User unknow");
    if (change.name) user->SetName(*change.name);
    if (change.ip) user->SetIpAddress(*change.ip);
    if (change.banned) user->SetBanned(*change.banned ? 1 : 0);
    if (change.password) user->SetPassword(*change.password);
    if (change.lastName) user->SetLastName(*change.lastName);
    document_.UsersChanged();
  }
  return SaveUsers();
}

Status ServerAdministration::DeleteUser(const std::string& login) {
  {
    ServerDataAccess access(document_.runner());
    if (!document_.users().Remove(login)) {
      return Refused("Unknow user.\nDelete user progress abort.");
    }
    document_.UsersChanged();
  }
  return SaveUsers();
}

std::string ServerAdministration::UserDeletedText(const std::string& login) {
  return "User " + login + " has been removed from database.";
}

Status ServerAdministration::CheckReadable(const std::string& path) {
  struct stat st {};
  if (!std::ifstream(path, std::ios::binary).is_open() || ::stat(path.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return Refused(path + " cannot be opened.");
  }
  return Status();
}

Status ServerAdministration::CheckNewDocument(const NewDocument& document) {
  if (document.path.empty()) return Refused("You must select a file to add.");
  Status readable = CheckReadable(document.path);
  if (!readable.ok()) return readable;
  if (document.description.empty()) return Refused("You must specify a description to the file.");
  return Status();
}

std::vector<CDocInfo> ServerAdministration::ListDocuments() {
  std::vector<CDocInfo> documents;
  ServerDataAccess access(document_.runner());
  document_.documents().GetStore().ForEach(
      [&documents](const CDocInfo& record) { documents.push_back(record); });
  return documents;
}

StatusOr<CDocInfo> ServerAdministration::AddDocument(const NewDocument& document) {
  Status checked = CheckNewDocument(document);
  if (!checked.ok()) return checked;
  auto record = std::make_unique<CDocInfo>(
      std::filesystem::path(document.path).filename().string(), "root", document.path, "unknown",
      document.streamable ? 1 : 0, document.persisting ? 1 : 0, document.description);
  CDocInfo added = *record;
  {
    ServerDataAccess access(document_.runner());
    if (!document_.documents().Add(record)) {
      return Refused("pb : peut-ête déjà inséré dns la database");
    }
  }
  Status saved = SaveDocuments();
  if (!saved.ok()) return saved;
  return added;
}

Status ServerAdministration::ChangeDocument(const std::string& owner, const std::string& file,
                                            const DocumentChange& change) {
  {
    ServerDataAccess access(document_.runner());
    CDocInfo* record = document_.documents().Find(CDocInfo::MakeKey(owner, file));
    if (record == nullptr) return Refused("Unknow file " + file);
    if (change.description) record->SetDescription(*change.description);
    if (change.streamable) record->SetStreamable(*change.streamable ? 1 : 0);
    if (change.persisting) record->SetPersisting(*change.persisting ? 1 : 0);
  }
  return SaveDocuments();
}

Status ServerAdministration::DeleteDocument(const std::string& owner, const std::string& file) {
  {
    ServerDataAccess access(document_.runner());
    if (!document_.documents().Remove(CDocInfo::MakeKey(owner, file))) {
      return Refused("Unknow file " + file);
    }
  }
  return SaveDocuments();
}

StatusOr<CDocInfo> ServerAdministration::FindDocument(const std::string& owner,
                                                      const std::string& file) {
  ServerDataAccess access(document_.runner());
  const CDocInfo* record = document_.documents().Find(CDocInfo::MakeKey(owner, file));
  if (record == nullptr) return Refused("Unknow file " + file);
  return *record;
}

std::vector<CDocInfo> ServerAdministration::ListPlaylist() {
  std::vector<CDocInfo> entries;
  Playlist& playlist = document_.GetPlaylist();
  for (int i = 0; i < playlist.GetCount(); ++i) {
    std::optional<CDocInfo> entry = playlist.GetAt(i);
    if (!entry) break;  // the Fcast sender removed the head meanwhile
    entries.push_back(std::move(*entry));
  }
  return entries;
}

void ServerAdministration::AnnounceIfRunning() {
  if (document_.IsRunning()) document_.runner().SendPlaylist();
}

int ServerAdministration::Enqueue(const CDocInfo& document) {
  ServerRunner& runner = document_.runner();
  // Before the entry exists, so that the sender cannot take it before the playlist is out.
  runner.DelayNextTransfer(kAnnouncementLead);
  Playlist& playlist = document_.GetPlaylist();
  playlist.AddTail(document);
  const int index = playlist.GetCount() - 1;
  document_.PlaylistChanged();
  AnnounceIfRunning();
  runner.WakeFcastSender();
  return index;
}

StatusOr<int> ServerAdministration::MoveEntry(int index, int step) {
  if (step > 0 && index == 0) return 0;  // already first
  const std::optional<int> position = document_.GetPlaylist().Move(index, step);
  if (!position) return NoEntry(index);
  document_.PlaylistChanged();
  AnnounceIfRunning();
  return *position;
}

Status ServerAdministration::RemoveEntry(int index) {
  if (document_.GetPlaylist().RemoveAt(index) == 0) return NoEntry(index);
  document_.PlaylistChanged();
  AnnounceIfRunning();
  return Status();
}

}  // namespace ondavox::server
