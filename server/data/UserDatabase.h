#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "server/data/CUserInfo.h"
#include "server/data/RecordStore.h"

namespace ondavox::server {

// The server's registered users, kept in memory in registration order and stored in the user
// database file (the clientDatabase setting). Logins compare byte for byte, case-sensitively.
// Owned by the server document; used by the client connection threads (LOGIN, LOGOUT, WHOIS,
// REGISTER), the users dialog and the document's start, stop and event handling.
//
// Not thread safe: every caller holds the server data lock, and uses a record returned by
// Find only while it holds the lock. Const operations may run at the same time as each other.
// Destroying the database does not write it: its owner saves it (a destructor could not
// report a failed write).
class UserDatabase {
 public:
  explicit UserDatabase(std::string path) : store_(std::move(path)) {}

  // Reads the file. A missing file gives no users and no error; content that does not parse
  // is a format error naming the file and the byte offset, and leaves the users unchanged.
  Status Load() { return store_.Load(); }
  // Replaces the file atomically with every user, online written as 0 (a stored file never
  // says that anyone is logged in). The users in memory are unchanged; on failure the old
  // file is intact.
  Status Save() const;
  // The bytes Save writes; |sizeHint| as for RecordStore::Encode.
  std::string Encode(std::size_t sizeHint = 0) const;
  const std::string& path() const { return store_.path(); }

  // Appends |user| and takes it; false (|user| stays with the caller) when the login exists
  // or the database holds its maximum of 65,535 users.
  bool Add(std::unique_ptr<CUserInfo>& user) { return store_.Add(user); }
  // Destroys the first user with |login|; false when there is none.
  bool Remove(std::string_view login) { return store_.Remove(login); }
  // The first user with |login|, still owned by the database and changed in place, or null.
  CUserInfo* Find(std::string_view login) { return store_.Find(login); }
  const CUserInfo* Find(std::string_view login) const { return store_.Find(login); }

  // Appends to |logins| the login of every user whose online field equals |status|, in order.
  void ListLoginsByStatus(std::vector<std::string>& logins, int32_t status) const;
  // Sets every user's online field to 0.
  void ResetOnlineStatus();

  std::size_t GetCount() const { return store_.GetCount(); }

 private:
  RecordStore<CUserInfo> store_;
};

}  // namespace ondavox::server
