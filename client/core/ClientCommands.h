#pragma once

#include <string>
#include <string_view>

#include "common/MavoraProtocol.h"

namespace ondavox::client {

// The commands the client sends, as the field lists handed to ClientRunner::SendTCP. LOGIN and
// REGISTER carry the client's address and the fixed port kPort; the address is the local
// address of the session's connection, known only once it is connected, so Login and Register
// leave it empty and the TCP session thread fills it in with WithAddress just before sending.
// Composed on the window thread by the main frame and the main view; stateless.
class ClientCommands {
 public:
  static constexpr char kPort[] = "666";

  static MavoraProtocol::Fields Login(const std::string& login, const std::string& password);
  static MavoraProtocol::Fields Register(const std::string& login, const std::string& password,
                                         const std::string& name, const std::string& lastName);
  static MavoraProtocol::Fields Logout(const std::string& login);
  static MavoraProtocol::Fields Whois(const std::string& owner);
  static MavoraProtocol::Fields FileInfo(const std::string& document, const std::string& owner);
  // |command| with |address| in its address field when it is a LOGIN or REGISTER of the
  // composed shape; any other command (the user's free text included) unchanged.
  static MavoraProtocol::Fields WithAddress(MavoraProtocol::Fields command,
                                            const std::string& address);
  // The text typed by the user as one field, each space replaced by a TAB, so the server sees
  // its words as separate fields.
  static MavoraProtocol::Fields FreeText(std::string_view text);
};

}  // namespace ondavox::client
