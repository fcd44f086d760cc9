#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "server/data/CDocInfo.h"
#include "server/net/DeliveryLedger.h"
#include "server/net/FcastSenderThread.h"

namespace ondavox::server {

class COndavoxDoc;

// The operator's changes to a server: users, documents, the playlist, start and stop, with the
// checks, refusal texts, saves and announcements of the administration dialogs. The dialogs and
// the administration channel both go through it, so the two cannot disagree.
//
// A refusal is an InvalidArgument status carrying the dialog's own text; a save that failed is
// the IoError of the save (the change stays in memory, as in the dialogs). Stateless over the
// document: make one wherever it is needed. Any thread; each operation takes the server data
// lock itself, so callers must not hold it.
class ServerAdministration {
 public:
  // What the transfer in progress and the server's settings look like to an operator.
  struct Snapshot {
    bool running = false;
    int32_t tcpPort = 0;
    std::string multicastGroup;
    int32_t multicastPort = 0;
    std::string fcastGroup;
    int32_t fcastPort = 0;
    int32_t fcastRate = 0;  // kbit/s
    int32_t fcastRounds = 0;
    std::vector<std::string> online;
    int playlistLength = 0;
    std::optional<FcastSenderThread::Progress> transfer;
  };
  struct UserRow {
    std::string login, name, lastName, ip;
    bool online = false;
    bool banned = false;
  };
  // The fields of a user to set; those left empty keep their value.
  struct UserChange {
    std::optional<std::string> password, name, lastName, ip;
    std::optional<bool> banned;
  };
  struct NewDocument {
    std::string path;
    std::string description;
    bool streamable = false;
    bool persisting = true;
  };
  // The fields of a document to set; those left empty keep their value.
  struct DocumentChange {
    std::optional<std::string> description;
    std::optional<bool> streamable, persisting;
  };

  // How long an enqueued entry waits so that the new playlist is announced before its transfer.
  static constexpr std::chrono::milliseconds kAnnouncementLead{500};

  explicit ServerAdministration(COndavoxDoc& document) : document_(document) {}

  Snapshot GetSnapshot();

  // Starts the server with its settings and logs "Server started." (or "Server start error."
  // and the reason, which is also the status returned).
  Status StartServer();
  // Stops the server with both saves and logs "Server stopped." (or "Server Stop error.").
  Status StopServer();

  // One of the recent transfers: who sent a receipt for it, and who is online without one.
  struct DeliveryRow {
    DeliveryLedger::Transfer transfer;
    std::vector<std::string> onlineWithout;
  };
  // The recent transfers, the latest first.
  std::vector<DeliveryRow> Deliveries();

  std::vector<UserRow> ListUsers();
  Status AddUser(const std::string& login, const std::string& password, const std::string& name,
                 const std::string& lastName, bool banned);
  Status ChangeUser(const std::string& login, const UserChange& change);
  Status DeleteUser(const std::string& login);
  // The text shown once |login| was deleted.
  static std::string UserDeletedText(const std::string& login);

  // The Add File checks, in the dialog's order: a file is given, it can be opened (and is a
  // regular file), a description is given.
  static Status CheckNewDocument(const NewDocument& document);
  // "<path> cannot be opened." unless |path| names a regular file that can be read.
  static Status CheckReadable(const std::string& path);

  std::vector<CDocInfo> ListDocuments();
  // Adds the file |document.path| under its file name, owner "root", MIME type "unknown".
  // Returns the stored record's key fields on success.
  StatusOr<CDocInfo> AddDocument(const NewDocument& document);
  Status ChangeDocument(const std::string& owner, const std::string& file,
                        const DocumentChange& change);
  Status DeleteDocument(const std::string& owner, const std::string& file);
  // A copy of the document |file| of |owner|, or the refusal "Unknow file <file>".
  StatusOr<CDocInfo> FindDocument(const std::string& owner, const std::string& file);

  std::vector<CDocInfo> ListPlaylist();
  // Appends |document| to the playlist; when the server runs, announces the playlist and wakes
  // the Fcast sender, which starts no sooner than kAnnouncementLead. Returns the entry's index.
  int Enqueue(const CDocInfo& document);
  // Moves the entry at |index| |step| places towards the head (negative: towards the tail)
  // and announces the playlist; returns the entry's new index.
  StatusOr<int> MoveEntry(int index, int step);
  Status RemoveEntry(int index);

 private:
  // Saves the user database through the runner's saver (its snapshot is taken under the data
  // lock, the write happens outside it), or the document database under the data lock.
  // REQUIRES: the data lock is not held.
  Status SaveUsers();
  Status SaveDocuments();
  void AnnounceIfRunning();

  COndavoxDoc& document_;
};

}  // namespace ondavox::server
