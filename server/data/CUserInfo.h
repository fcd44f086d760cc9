#pragma once

#include <cstdint>
#include <string>

#include "server/data/CDatabaseRecord.h"

namespace ondavox::server {

// One registered user of the server: login (the key, fixed once the record exists), password
// in plain text, name, last name, the banned and online flags, and the address and port the
// client declared at its last LOGIN or at REGISTER. Stored in the user database file with the
// body order banned, online, IP address, last name, login, password, port, name.
// Owned by UserDatabase; not thread safe (callers hold the server data lock).
class CUserInfo final : public CDatabaseRecord {
 public:
  static constexpr RecordClass kClass{"CUserInfo", 0};

  CUserInfo() = default;
  CUserInfo(std::string login, std::string password, std::string name, std::string lastName,
            int32_t banned, int32_t online, std::string ipAddress, int32_t port);

  void Serialize(ArchiveWriter& archive) const override;
  void Serialize(ArchiveReader& archive) override;
  // The stored body with online written as 0, whatever the user's session state.
  void SerializeOffline(ArchiveWriter& archive) const;
  std::string GetKey() const override { return login_; }

  const std::string& login() const { return login_; }
  const std::string& password() const { return password_; }
  const std::string& name() const { return name_; }
  const std::string& lastName() const { return lastName_; }
  int32_t banned() const { return banned_; }
  int32_t online() const { return online_; }
  const std::string& ipAddress() const { return ipAddress_; }
  int32_t port() const { return port_; }

  void SetPassword(std::string password) { password_ = std::move(password); }
  void SetName(std::string name) { name_ = std::move(name); }
  void SetLastName(std::string lastName) { lastName_ = std::move(lastName); }
  void SetBanned(int32_t banned) { banned_ = banned; }
  void SetOnline(int32_t online) { online_ = online; }
  void SetIpAddress(std::string ipAddress) { ipAddress_ = std::move(ipAddress); }
  void SetPort(int32_t port) { port_ = port; }

  bool operator==(const CUserInfo&) const = default;

 private:
  void WriteBody(ArchiveWriter& archive, int32_t online) const;

  std::string login_;
  std::string password_;
  std::string name_;
  std::string lastName_;
  int32_t banned_ = 0;
  int32_t online_ = 0;
  std::string ipAddress_;
  int32_t port_ = 0;
};

}  // namespace ondavox::server
