#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/Mutex.h"
#include "platform/Status.h"
#include "platform/ThreadAnnotations.h"

namespace ondavox::server {

class CUserInfo;
class UserDatabase;

// Writes the user database file while the server runs, so that no disk write happens under
// the server data lock and changes made at the same time share one write (group commit).
//
// A writer changes the users under the data lock and, still under it, submits the change,
// which gives it a ticket; then, without the lock, it waits on the ticket until a save that
// holds the change has completed. The waiters take turns at saving: one that finds no save
// under way takes a snapshot (the encoded bytes of every user, taken under the data lock, so
// it holds every change submitted so far), writes it outside the lock and wakes the others;
// those whose change the snapshot held are done, the rest elect the next saver. Saves run one
// at a time and each snapshot is taken after the previous save ended, so an older snapshot
// never replaces a newer file.
//
// A registration submitted as such is undone when the save that holds it fails: the saver
// removes the user from memory (under the data lock) before the next snapshot can be taken,
// so no later save writes a user whose registration was refused.
//
// Owns the tickets not yet collected and the write function; borrows the users and the data
// lock of the ServerRunner that owns it. Called by the connection threads (REGISTER), the
// administration operations and the server's Stop: any thread.
class UserSaver {
 public:
  // Replaces the file at the path with the bytes; WriteFileAtomically by default.
  using WriteFn = std::function<Status(const std::string& path, std::string_view bytes)>;

  UserSaver(UserDatabase& users, Mutex& dataLock);
  UserSaver(const UserSaver&) = delete;
  UserSaver& operator=(const UserSaver&) = delete;

  // A ticket for the changes made so far. REQUIRES: the data lock is held.
  uint64_t Submit() EXCLUDES(mu_);
  // A ticket for the registration of |user| (stored in the users, login |login|): when the
  // save that holds it fails, the user is removed again. REQUIRES: the data lock is held.
  uint64_t SubmitRegistration(const CUserInfo* user, std::string login) EXCLUDES(mu_);
  // Blocks until a save holding |ticket| has ended; its result. Each ticket is waited on once.
  // REQUIRES: the data lock is not held by this thread.
  Status Wait(uint64_t ticket) EXCLUDES(mu_);
  // Submits under the data lock and waits. REQUIRES: the data lock is not held.
  Status Save() EXCLUDES(mu_);

  // True while |user|'s registration waits for its save. REQUIRES: the data lock is held.
  bool IsRegistering(const CUserInfo* user) const EXCLUDES(mu_);

  // Writes attempted so far (successful or not).
  uint64_t SaveCount() const EXCLUDES(mu_);
  // The write a saver makes unless a test replaced it: atomic, readable by the owner only (the
  // file holds passwords).
  static Status WriteToDisk(const std::string& path, std::string_view bytes);
  // Replaces the write function, for tests that make the disk fail.
  void SetWriteForTesting(WriteFn write) EXCLUDES(mu_);

 private:
  struct Ticket {
    const CUserInfo* registered = nullptr;  // compared only, never followed
    std::string login;
    bool done = false;
    Status status;
  };

  // Takes a snapshot, writes it, and finishes the tickets it holds. The caller has set saving_.
  void SaveOnce() EXCLUDES(mu_);
  // Removes the users registered by tickets up to |upTo| that are still pending.
  // REQUIRES: the data lock and mu_ are held.
  void UndoRegistrations(uint64_t upTo) REQUIRES(mu_);
  // Gives |status| to the tickets up to |upTo| not yet done and wakes the waiters.
  void Finish(uint64_t upTo, const Status& status) REQUIRES(mu_);

  UserDatabase& users_;
  Mutex& dataLock_;

  // The size of the last snapshot; touched only by the thread that set saving_.
  std::size_t lastSize_ = 0;

  mutable Mutex mu_;  // taken after the data lock when both are held
  CondVar saved_;
  WriteFn write_ GUARDED_BY(mu_);
  uint64_t lastTicket_ GUARDED_BY(mu_) = 0;
  std::map<uint64_t, Ticket> tickets_ GUARDED_BY(mu_);
  bool saving_ GUARDED_BY(mu_) = false;
  uint64_t saves_ GUARDED_BY(mu_) = 0;
};

}  // namespace ondavox::server
