#include "server/data/UserDatabase.h"

namespace ondavox::server {

Status UserDatabase::Save() const { return WriteFileAtomically(store_.path(), Encode(), FileAccess::kOwnerOnly); }

std::string UserDatabase::Encode(std::size_t sizeHint) const {
  return store_.Encode(
      [](const CUserInfo& user, ArchiveWriter& archive) { user.SerializeOffline(archive); },
      sizeHint);
}

void UserDatabase::ListLoginsByStatus(std::vector<std::string>& logins, int32_t status) const {
  store_.ForEach([&](const CUserInfo& user) {
    if (user.online() == status) logins.push_back(user.login());
  });
}

void UserDatabase::ResetOnlineStatus() {
  store_.ForEach([](CUserInfo& user) { user.SetOnline(0); });
}

}  // namespace ondavox::server
