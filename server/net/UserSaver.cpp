#include "server/net/UserSaver.h"

#include <set>
#include <utility>

#include "platform/AtomicFile.h"
#include "server/data/UserDatabase.h"

namespace ondavox::server {

UserSaver::UserSaver(UserDatabase& users, Mutex& dataLock)
    : users_(users), dataLock_(dataLock), write_(&WriteToDisk) {}

uint64_t UserSaver::Submit() { return SubmitRegistration(nullptr, std::string()); }

uint64_t UserSaver::SubmitRegistration(const CUserInfo* user, std::string login) {
  MutexLock lock(mu_);
  const uint64_t ticket = ++lastTicket_;
  tickets_.emplace(ticket, Ticket{user, std::move(login), false, Status()});
  return ticket;
}

Status UserSaver::Wait(uint64_t ticket) {
  mu_.Lock();
  for (;;) {
    const auto entry = tickets_.find(ticket);
    if (entry == tickets_.end()) {
      mu_.Unlock();
      return Status::InvalidArgument("unknown save ticket " + std::to_string(ticket));
    }
    if (entry->second.done) {
      Status status = std::move(entry->second.status);
      tickets_.erase(entry);
      mu_.Unlock();
      return status;
    }
    if (!saving_) {
      saving_ = true;
      mu_.Unlock();
      SaveOnce();
      mu_.Lock();
      continue;
    }
    saved_.Wait(mu_, [&]() REQUIRES(mu_) { return entry->second.done || !saving_; });
  }
}

Status UserSaver::Save() {
  uint64_t ticket = 0;
  {
    MutexLock data(dataLock_);
    ticket = Submit();
  }
  return Wait(ticket);
}

void UserSaver::SaveOnce() {
  std::string bytes;
  uint64_t upTo = 0;
  WriteFn write;
  {
    MutexLock data(dataLock_);
    // A little room over the last size for the users added since.
    bytes = users_.Encode(lastSize_ + lastSize_ / 64);
    MutexLock lock(mu_);
    upTo = lastTicket_;
    write = write_;
  }
  lastSize_ = bytes.size();
  const Status status = write(users_.path(), bytes);

  if (status.ok()) {
    MutexLock lock(mu_);
    Finish(upTo, status);
  } else {
    MutexLock data(dataLock_);
    MutexLock lock(mu_);
    UndoRegistrations(upTo);
    Finish(upTo, status);
  }
}

void UserSaver::Finish(uint64_t upTo, const Status& status) {
  for (auto entry = tickets_.begin(); entry != tickets_.end() && entry->first <= upTo; ++entry) {
    if (entry->second.done) continue;
    entry->second.done = true;
    entry->second.status = status;
  }
  ++saves_;
  saving_ = false;
  saved_.NotifyAll();
}

void UserSaver::UndoRegistrations(uint64_t upTo) {
  // A login registered again by a later ticket (the first user was deleted meanwhile) belongs
  // to that later registration, which this save did not hold.
  std::set<std::string_view> registeredLater;
  for (auto entry = tickets_.upper_bound(upTo); entry != tickets_.end(); ++entry) {
    if (entry->second.registered != nullptr) registeredLater.insert(entry->second.login);
  }
  for (auto entry = tickets_.begin(); entry != tickets_.end() && entry->first <= upTo; ++entry) {
    const Ticket& ticket = entry->second;
    if (ticket.done || ticket.registered == nullptr || registeredLater.contains(ticket.login)) {
      continue;
    }
    if (users_.Find(ticket.login) == ticket.registered) users_.Remove(ticket.login);
  }
}

bool UserSaver::IsRegistering(const CUserInfo* user) const {
  MutexLock lock(mu_);
  for (const auto& [number, ticket] : tickets_) {
    if (ticket.registered == user && !ticket.done) return true;
  }
  return false;
}

uint64_t UserSaver::SaveCount() const {
  MutexLock lock(mu_);
  return saves_;
}

Status UserSaver::WriteToDisk(const std::string& path, std::string_view bytes) {
  return WriteFileAtomically(path, bytes, FileAccess::kOwnerOnly);
}

void UserSaver::SetWriteForTesting(WriteFn write) {
  MutexLock lock(mu_);
  write_ = std::move(write);
}

}  // namespace ondavox::server
