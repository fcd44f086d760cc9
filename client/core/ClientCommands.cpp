#include "client/core/ClientCommands.h"

#include <algorithm>

namespace ondavox::client {

MavoraProtocol::Fields ClientCommands::Login(const std::string& login,
                                             const std::string& password) {
  return {"LOGIN", login, password, "", kPort};
}

MavoraProtocol::Fields ClientCommands::Register(const std::string& login,
                                                const std::string& password,
                                                const std::string& name,
                                                const std::string& lastName) {
  return {"REGISTER", login, password, name, lastName, "", kPort};
}

MavoraProtocol::Fields ClientCommands::WithAddress(MavoraProtocol::Fields command,
                                                   const std::string& address) {
  if (command.size() == 5 && command[0] == "LOGIN") command[3] = address;
  if (command.size() == 7 && command[0] == "REGISTER") command[5] = address;
  return command;
}

MavoraProtocol::Fields ClientCommands::Logout(const std::string& login) {
  return {"LOGOUT", login};
}

MavoraProtocol::Fields ClientCommands::Whois(const std::string& owner) { return {"WHOIS", owner}; }

MavoraProtocol::Fields ClientCommands::FileInfo(const std::string& document,
                                                const std::string& owner) {
  return {"FILEINFO", document, owner};
}

MavoraProtocol::Fields ClientCommands::FreeText(std::string_view text) {
  std::string field(text);
  std::replace(field.begin(), field.end(), ' ', MavoraProtocol::kTab);
  return {field};
}

}  // namespace ondavox::client
