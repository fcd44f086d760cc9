#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Mutex.h"
#include "platform/Status.h"
#include "server/app/LogHistory.h"
#include "server/app/ServerConfig.h"
#include "server/app/ServerKey.h"
#include "server/app/ServerLog.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/ServerEventListener.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {

// The server's one document: it owns the settings of server.ini, the user and document
// databases, the server's key pair and the server runner (with its playlist), keeps the lists of logged-in and
// logged-out logins, starts and stops the server, and turns every server event into a log line
// and into refreshes of the open dialogs. Both programs, with and without a window, are thin
// mains over it.
//
// Threads: construction, Load, the settings, the document file and SetLog run on the program's
// main (window) thread. Start and Stop run on any thread, one at a time (the window's buttons
// and the administration channel). OnServerEvent and AppendLog run on the calling thread. The databases
// and the login lists are shared with the connection threads: use them only inside a
// ServerDataAccess scope on runner() (the server data lock).
class COndavoxDoc final : public ServerEventListener {
 public:
  // Reads |directory|/server.ini (writing the defaults of missing sections) and binds the
  // settings to that absolute name; the databases are created from the configured paths but not
  // yet read. |fcastSenderFactory| makes the Fcast sender object at each start.
  COndavoxDoc(const std::string& directory, ServerRunner::FcastSenderFactory fcastSenderFactory);
  // Stops a running server first (with both saves), so no user stays marked online.
  ~COndavoxDoc() override;
  COndavoxDoc(const COndavoxDoc&) = delete;
  COndavoxDoc& operator=(const COndavoxDoc&) = delete;

  // Removes the temporaries that a killed save left beside server.ini and the databases,
  // creates the default document folder when it is missing, then reads the user database and
  // the document database. A file that does not parse (or cannot be read) is an error naming
  // the file; the program must not start then.
  Status Load();

  // Starts the server with the settings and the server's key, which signs every file sent.
  // Refused, with nothing started, when the TCP port or the multicast port is outside 1 to
  // 65535 (it could not be bound as given), when an interface setting is not an address of this
  // host, or when the key cannot be loaded (see Key); the message says which.
  Status Start() EXCLUDES(lifecycleMu_, keyMu_);
  // Stops the server: closes the runner first, so that no request changes the data after it is
  // saved, then empties the login lists, marks every user offline and saves the user database
  // and the document database. The result is the first save that failed; the server is stopped
  // either way and the data stays in memory.
  Status Stop() EXCLUDES(lifecycleMu_);
  bool IsRunning() const { return running_.load(); }
  // The server's key pair, from the data folder ([Server] path), made there when neither of its
  // files exists (ServerKey::LoadOrCreate). Read once; after a failure, read again at the next
  // call, so that a file the operator mended is taken. Any thread.
  StatusOr<ServerKey> Key() EXCLUDES(keyMu_);

  // Writes every setting to server.ini.
  bool SaveSettings() { return config_.Save(); }
  ServerConfig& config() { return config_; }

  // The document file (Ctrl+S, Ctrl+O): Port, MulticastPort and MulticastIP in the database
  // archive encoding. Open replaces those three settings, and only when the whole file reads.
  Status SaveDocumentFile(const std::string& path) const;
  Status OpenDocumentFile(const std::string& path);

  // Where log lines go; lines produced while none is set are kept and given to the next log.
  // The log must stay alive until it is replaced (SetLog(nullptr) before destroying it).
  void SetLog(ServerLog* log) EXCLUDES(logMu_);
  // The open users and playlist dialogs, or null. Any thread.
  void SetUsersDialog(RefreshTarget* dialog) EXCLUDES(dialogsMu_);
  void SetPlaylistDialog(RefreshTarget* dialog) EXCLUDES(dialogsMu_);

  void OnServerEvent(const ServerEvent& event) override;

  // Adds |line| to the log (and to its history). Any thread.
  void AppendLog(std::string_view line) EXCLUDES(logMu_);
  // The last lines logged, and their live readers.
  LogHistory& logHistory() { return logHistory_; }

  // After the users changed: refreshes the login lists and asks the users dialog to reload.
  // REQUIRES: a ServerDataAccess scope on runner().
  void UsersChanged() EXCLUDES(dialogsMu_);
  // After the playlist changed: asks the playlist dialog to reload. Any thread.
  void PlaylistChanged() EXCLUDES(dialogsMu_);

  ServerRunner& runner() { return runner_; }
  Playlist& GetPlaylist() { return runner_.playlist(); }
  // REQUIRES: a ServerDataAccess scope on runner().
  UserDatabase& users() { return users_; }
  DocumentDatabase& documents() { return documents_; }
  const std::vector<std::string>& loggedInLogins() const { return loggedIn_; }
  const std::vector<std::string>& loggedOutLogins() const { return loggedOut_; }
  // Refills both login lists from the user database (logged out first, then logged in).
  // REQUIRES: a ServerDataAccess scope on runner().
  void RefreshLoginLists();

 private:
  const std::string directory_;
  ServerConfig config_;
  const std::string keyFolder_;  // config_.path as loaded; read by any thread
  UserDatabase users_;
  DocumentDatabase documents_;
  ServerRunner runner_;  // after the databases: it refers to them
  std::atomic<bool> running_{false};
  Mutex lifecycleMu_;  // held through Start and Stop

  // Under the server data lock.
  std::vector<std::string> loggedOut_;
  std::vector<std::string> loggedIn_;

  Mutex keyMu_;
  std::optional<ServerKey> key_ GUARDED_BY(keyMu_);

  Mutex logMu_;
  ServerLog* log_ GUARDED_BY(logMu_) = nullptr;
  std::vector<std::string> pendingLines_ GUARDED_BY(logMu_);
  LogHistory logHistory_;

  Mutex dialogsMu_;
  RefreshTarget* usersDialog_ GUARDED_BY(dialogsMu_) = nullptr;
  RefreshTarget* playlistDialog_ GUARDED_BY(dialogsMu_) = nullptr;
};

}  // namespace ondavox::server
