#pragma once

#include <string>
#include <string_view>

#include "common/MavoraProtocol.h"

namespace ondavox::client {

// The commands the client sends, as the field lists handed to ClientRunner::SendTCP. The
// address fields of LOGIN and REGISTER are always the fixed texts kAddress and kPort, whatever
// the machine's own address. Composed on the window thread by the main frame and the main
// view; stateless.
class ClientCommands {
 public:
  static constexpr char kAddress[] = "127.0.0.1";
  static constexpr char kPort[] = "666";

  static MavoraProtocol::Fields Login(const std::string& login, const std::string& password);
  static MavoraProtocol::Fields Register(const std::string& login, const std::string& password,
                                         const std::string& name, const std::string& lastName);
  static MavoraProtocol::Fields Logout(const std::string& login);
  static MavoraProtocol::Fields Whois(const std::string& owner);
  static MavoraProtocol::Fields FileInfo(const std::string& document, const std::string& owner);
  // The text typed by the user as one field, each space replaced by a TAB, so the server sees
  // its words as separate fields.
  static MavoraProtocol::Fields FreeText(std::string_view text);
};

}  // namespace ondavox::client
