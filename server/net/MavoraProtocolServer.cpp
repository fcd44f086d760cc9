#include "server/net/MavoraProtocolServer.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <memory>

#include "common/LenientInteger.h"
#include "common/ReplyCodes.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Trace.h"
#include "server/data/CDocInfo.h"
#include "server/data/CUserInfo.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/ServerEvent.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerDataAccess.h"
#include "server/net/ServerRunner.h"

namespace ondavox::server {
namespace {

void SenderLine(std::string_view reply) {
  TraceLine("protocol::je vais sender " + std::string(reply));
}

// A reply code decided by invoke itself, with its sender line.
std::string Refuse(std::string_view code) {
  SenderLine(code);
  return std::string(code);
}

}  // namespace

std::string MavoraProtocolServer::invoke(std::string_view message, std::string& connectionLogin) {
  TraceLine("Protocol::invoke");
  const Fields fields = extractParams(message);
  TraceLine("number:" + std::to_string(fields.size()));
  for (const std::string& field : fields) {
    DebugOut("[Param :" + field + "]\n");
    TraceLine("param: " + field + "...");
  }
  if (fields[0] == "RECEIVED") return invokeRECEIVED(fields, connectionLogin);
  if (fields[0] == "KEY") return invokeKEY(fields);
  if (fields[0] == "REGISTER" && fields.size() == 7) return invokeREGISTER(fields, connectionLogin);
  ServerDataAccess access(runner_);
  return Dispatch(fields, connectionLogin);
}

std::string MavoraProtocolServer::Dispatch(const Fields& fields, std::string& connectionLogin) {
  const std::string& word = fields[0];
  const std::size_t count = fields.size();
  if (word == "LOGIN") {
    TraceLine("Protocol::ON rentre dans login");
    return count == 5 ? invokeLOGIN(fields, connectionLogin) : Refuse(kWrongFieldCount);
  }
  if (word == "LOGOUT") return invokeLOGOUT(fields, connectionLogin);
  if (word == "WHOIS") return count == 2 ? invokeWHOIS(fields) : Refuse(kWrongFieldCount);
  if (word == "REGISTER") return Refuse(kWrongFieldCount);  // seven fields go to invokeREGISTER
  if (word == "FILEINFO") return count == 3 ? invokeFILEINFO(fields) : Refuse(kUnknownDocument);
  if (word == "PLAYLIST")
    return count == 1 ? invokePLAYLIST(fields) : Refuse(kPlaylistWrongFieldCount);
  TraceLine("Protocol::UNKNOWNCOMMAND");
  return Refuse(kUnknownCommand);
}

void MavoraProtocolServer::LoginAfterRegister(const Fields& fields, std::string& connectionLogin) {
  // REGISTER, login, password, name, last name, IP, port  ->  LOGIN, login, password, IP, port
  Fields login{"LOGIN", fields[1], fields[2], fields[5], fields[6]};
  for (const std::string& field : login) DebugOut("[Param RegInvoke:" + field + "]\n");
  invokeLOGIN(login, connectionLogin);
}

std::string MavoraProtocolServer::Fail(std::string_view code, std::string failure) {
  SenderLine(code);
  runner_.PostEvent(ServerEvent(LOG_FAILURE, {std::move(failure)}));
  return std::string(code);
}

void MavoraProtocolServer::sendMsg(int fd, std::string_view reply) const {
  DebugOut("[SEND : " + std::string(reply) + "\n]\n");
  sendLine(fd, reply);
}

void MavoraProtocolServer::sendMsgMULTICAST(std::string message, const std::string& groupAddress,
                                            uint16_t port, int fd) const {
  message.push_back('\n');
  TraceLine("CMULTICASTRunner::sendMsgMULTICAST() [ENTER]");
  TraceLine(std::to_string(port));
  // A text that is not an address sends to the broadcast address, which the socket refuses.
  const Ipv4Endpoint group = Ipv4Endpoint::FromLegacyText(groupAddress, port)
                                 .value_or(Ipv4Endpoint(htonl(INADDR_NONE), port));
  if (::sendto(fd, message.data(), message.size(), 0, group.Get(), Ipv4Endpoint::Size()) < 0) {
    TraceLine("ERROR CMULTICASTRunner::sendMsgMULTICAST() failed.\n");
  } else {
    DebugOut("[SEND mcast : " + message + "]");
    TraceLine("MavoraProtocolServer::sendMsgMULTICAST() OK.\n");
  }
  TraceLine("MavoraProtocolServer::sendMsgMULTICAST() [EXIT]");
}

std::string MavoraProtocolServer::invokeLOGIN(const Fields& fields, std::string& connectionLogin) {
  TraceLine("Protocol::invokeLOGIN");
  const std::string& login = fields[1];
  CUserInfo* user = runner_.users().Find(login);
  if (user == nullptr) {
    return Fail(kLoginRefused,
                "LOGIN: An unregistered user tried to connect under the login :" + login);
  }
  // A user whose registration is not on disk yet may still be refused: no login until then.
  if (user->password() != fields[2] || user->banned() != 0 || user->online() != 0 ||
      runner_.userSaver().IsRegistering(user)) {
    return Fail(kLoginRefused, "LOGIN: An user tried to connect under the login " + login +
                                   " but he wasn't allowed to.");
  }
  // Only an accepted login is recorded for the connection: a refused attempt must not let its
  // connection log the real user out when it drops.
  connectionLogin = login;
  user->SetIpAddress(fields[3]);
  user->SetOnline(1);
  user->SetPort(LenientInteger(fields[4]));
  SenderLine(kLoginAccepted);
  runner_.PostEvent(ServerEvent(USER_ONLINE, {user->login()}));
  runner_.SendPlaylist();
  return std::string(kLoginAccepted);
}

std::string MavoraProtocolServer::invokeLOGOUT(const Fields& fields,
                                               const std::string& connectionLogin) {
  TraceLine("Protocol::invokeLOGOUT");
  if (fields.size() == 1) {
    runner_.PostEvent(ServerEvent(LOG_FAILURE, {"LOGOUT: Client has been disconnected"}));
    return std::string(kLogoutRefused);
  }
  const std::string& login = fields[1];
  if (login == connectionLogin) {
    if (CUserInfo* user = runner_.users().Find(login)) {
      user->SetOnline(0);
      runner_.PostEvent(ServerEvent(USER_OFFLINE, {user->login()}));
      SenderLine(kLogoutAccepted);
      return std::string(kLogoutAccepted);
    }
  }
  return Fail(kLogoutRefused, "LOGOUT: Bad Logout request.");
}

std::string MavoraProtocolServer::invokeWHOIS(const Fields& fields) {
  TraceLine("Protocol::invokeWHOIS");
  const std::string& login = fields[1];
  const CUserInfo* user = runner_.users().Find(login);
  if (user == nullptr) {
    return Fail(kUnknownUser, "WHOIS: the user wasn't in the Database");
  }
  std::string reply = "Login : \t\t" + user->login() + "%#Name : \t\t" + user->name() +
                      "%#Lastname : \t" + user->lastName() + "%#Status : \t\t" +
                      (user->online() != 0 ? "Online" : "Offline") + "%#Banned : \t\t" +
                      (user->banned() != 0 ? "Yes" : "No") + "%#IP : \t\t" + user->ipAddress() +
                      "%#";
  runner_.PostEvent(ServerEvent(LOG_INFO, {"WHOIS " + login + " completed."}));
  return reply;
}

std::string MavoraProtocolServer::invokeREGISTER(const Fields& fields,
                                                 std::string& connectionLogin) {
  TraceLine("Protocol::invokeREGISTER");
  const std::string& login = fields[1];
  uint64_t ticket = 0;
  {
    ServerDataAccess access(runner_);
    if (runner_.users().Find(login) != nullptr) {
      return Fail(kRegisterRefused,
                  "REGISTER: the user " + login + " already exist in the Database");
    }
    auto user = std::make_unique<CUserInfo>(login, fields[2], fields[3], fields[4], 0, 0, fields[5],
                                            LenientInteger(fields[6]));
    const CUserInfo* added = user.get();
    if (!runner_.users().Add(user)) {
      // The database is full (65,535 users): the registration cannot be kept.
      return Fail(kRegisterRefused,
                  "REGISTER: the user " + login + " could not be added: the Database is full");
    }
    ticket = runner_.userSaver().SubmitRegistration(added, login);
  }
  // A registration is answered once a save that holds it is on disk, so a crash cannot lose a
  // 204. The save runs outside the data lock and carries the registrations made meanwhile; when
  // it fails, the saver has removed the user again and the registration is refused.
  const Status saved = runner_.userSaver().Wait(ticket);
  ServerDataAccess access(runner_);
  if (!saved.ok()) return Fail(kRegisterRefused, saved.message());
  SenderLine(kRegistered);
  runner_.PostEvent(ServerEvent(USER_NEW, {login}));
  LoginAfterRegister(fields, connectionLogin);
  return std::string(kRegistered);
}

std::string MavoraProtocolServer::invokeFILEINFO(const Fields& fields) {
  const std::string& fileName = fields[1];
  const std::string& owner = fields[2];
  const CDocInfo* document = runner_.documents().Find(CDocInfo::MakeKey(owner, fileName));
  if (document == nullptr) {
    return Fail(kUnknownDocument, "FILEINFO : document does not exist");
  }
  std::string reply = "Filename :\t" + document->fileName() + "%#Owner :\t\t" + document->owner() +
                      "%#MimeType :\t" + document->mimeType() + "%#Description :\t" +
                      document->description() + "%#Streamable : \t" +
                      (document->streamable() != 0 ? "Yes" : "No");
  SenderLine(reply);
  runner_.PostEvent(ServerEvent(LOG_INFO, {"FILEINFO: owner : " + owner + " File: " + fileName +
                                           " infos were found in the Database"}));
  return reply;
}

std::string MavoraProtocolServer::invokeRECEIVED(const Fields& fields,
                                                const std::string& connectionLogin) {
  if (fields.size() != 4) return Refuse(kReceiptRefused);
  if (connectionLogin.empty()) return Refuse(kReceiptNotLoggedIn);
  const std::string& sizeText = fields[2];
  long long size = -1;
  const auto [end, error] =
      std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
  if (error != std::errc() || end != sizeText.data() + sizeText.size() || size < 0) {
    return Refuse(kReceiptRefused);
  }
  std::string digest = fields[3];
  std::transform(digest.begin(), digest.end(), digest.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const DeliveryLedger::Receipt receipt =
      runner_.deliveries().Record(connectionLogin, fields[1], size, digest, std::time(nullptr));
  if (receipt != DeliveryLedger::Receipt::kRecorded) return Refuse(kReceiptRefused);
  runner_.PostEvent(ServerEvent(LOG_INFO, {connectionLogin + " received " + fields[1]}));
  SenderLine(kReceiptRecorded);
  return std::string(kReceiptRecorded);
}

std::string MavoraProtocolServer::invokeKEY(const Fields& fields) {
  std::string key = runner_.PublicKeyText();
  if (key.empty()) return Refuse(kUnknownCommand);
  if (fields.size() != 1) return Refuse(kWrongFieldCount);
  std::string reply = joinParams({std::string(kServerKey), std::move(key)});
  SenderLine(reply);
  return reply;
}

std::string MavoraProtocolServer::invokePLAYLIST(const Fields&) {
  runner_.SendPlaylist();
  SenderLine(kPlaylistAnnounced);
  runner_.PostEvent(ServerEvent(LOG_INFO, {"PLAYLIST: the playlist was sent in Multicast"}));
  return std::string(kPlaylistAnnounced);
}

}  // namespace ondavox::server
