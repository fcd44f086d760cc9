#include "server/data/CUserInfo.h"

namespace ondavox::server {

CUserInfo::CUserInfo(std::string login, std::string password, std::string name,
                     std::string lastName, int32_t banned, int32_t online, std::string ipAddress,
                     int32_t port)
    : login_(std::move(login)),
      password_(std::move(password)),
      name_(std::move(name)),
      lastName_(std::move(lastName)),
      banned_(banned),
      online_(online),
      ipAddress_(std::move(ipAddress)),
      port_(port) {}

void CUserInfo::Serialize(ArchiveWriter& archive) const { WriteBody(archive, online_); }

void CUserInfo::SerializeOffline(ArchiveWriter& archive) const { WriteBody(archive, 0); }

void CUserInfo::WriteBody(ArchiveWriter& archive, int32_t online) const {
  archive.WriteI32(banned_);
  archive.WriteI32(online);
  archive.WriteString(ipAddress_);
  archive.WriteString(lastName_);
  archive.WriteString(login_);
  archive.WriteString(password_);
  archive.WriteI32(port_);
  archive.WriteString(name_);
}

void CUserInfo::Serialize(ArchiveReader& archive) {
  banned_ = archive.ReadI32();
  online_ = archive.ReadI32();
  ipAddress_ = archive.ReadString();
  lastName_ = archive.ReadString();
  login_ = archive.ReadString();
  password_ = archive.ReadString();
  port_ = archive.ReadI32();
  name_ = archive.ReadString();
}

}  // namespace ondavox::server
