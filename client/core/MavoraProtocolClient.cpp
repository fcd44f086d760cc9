#include "client/core/MavoraProtocolClient.h"

#include <sys/socket.h>

#include <cerrno>

#include "common/LenientInteger.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

std::string Sender(std::string_view code) {
  TraceLine("protocol::je vais sender " + std::string(code));
  return std::string(code);
}

}  // namespace

MavoraProtocolClient::MavoraProtocolClient(Host& host, char separator)
    : MavoraProtocol(separator), host_(host) {}

std::string MavoraProtocolClient::invoke(std::string_view announcement) {
  TraceLine("Protocol::invoke");
  const Fields fields = extractParams(announcement);
  TraceLine("number:" + std::to_string(fields.size()));
  for (const std::string& field : fields) TraceLine("param: " + field + "...");

  const std::string& word = fields.front();
  if (word == "USERS") {
    TraceLine("Protocol::ON rentre dans USERS");
    return invokeUSERS(fields);
  }
  if (word == "DOCS") {
    TraceLine("Protocol::ON rentre dans DOCS");
    return invokeDOCS(fields);
  }
  if (word == "FCAST") {
    TraceLine("Protocol::ON rentre dans DOCS");
    return invokeFCAST(fields);
  }
  if (word == "LOGOUT") {
    TraceLine("Protocol::ON rentre dans LOGOUT");
    return invokeLOGOUT(fields);
  }
  if (word == "PLAYLIST") {
    TraceLine("Protocol::ON rentre dans PLAYLIST");
    return invokePLAYLIST(fields);
  }
  TraceLine("Protocol::UNKNOWCOMMAND");
  return Sender(kUnknownCode);
}

std::string MavoraProtocolClient::joinParams(const Fields& fields) const {
  std::string message = MavoraProtocol::joinParams(fields);
  message.push_back('\n');
  TraceLine(message);
  return message;
}

std::optional<std::string> MavoraProtocolClient::receiveMsg(LineReader& reader) const {
  std::optional<std::string> line = MavoraProtocol::receiveMsg(reader);
  if (line) DebugOut("[RECEIVE TCP: " + *line + "]");
  return line;
}

bool MavoraProtocolClient::sendMsg(int fd, std::string_view message) const {
  DebugOut("[SEND TCP: " + std::string(message) + "]");
  return SendAll(fd, message);
}

std::optional<std::string> MavoraProtocolClient::ReceiveMsgMULTICAST(int fd,
                                                                     Ipv4Endpoint* sender) const {
  TraceLine("MavoraProtocolClient::ReceiveMsgMULTICAST() [ENTER]");
  std::string buffer(kMaxDatagram + 1, '\0');
  Ipv4Endpoint from;
  ssize_t n = 0;
  do {
    socklen_t fromLength = Ipv4Endpoint::Size();
    // MSG_TRUNC makes the result the datagram's whole length even when it did not fit.
    n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC, from.Mutable(), &fromLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || static_cast<std::size_t>(n) > kMaxDatagram) return std::nullopt;
  if (sender != nullptr) *sender = from;
  // The last byte is the announcement's line feed; it is dropped whatever it is.
  buffer.resize(n == 0 ? 0 : static_cast<std::size_t>(n) - 1);
  DebugOut("[RECEIVE MCAST: " + buffer + "]");
  return buffer;
}

std::string MavoraProtocolClient::invokeUSERS(const Fields&) { return Sender(kUsersCode); }

std::string MavoraProtocolClient::invokeDOCS(const Fields&) { return Sender(kDocsCode); }

std::string MavoraProtocolClient::invokeFCAST(const Fields& fields) {
  // The server always sends the group and the port; an announcement without them starts
  // nothing.
  if (fields.size() >= 3) {
    host_.StartFcast(fields[1], LenientInteger(fields[2]), host_.DownloadDirectory());
  } else {
    DebugOut("FCAST announcement without group and port ignored\n");
  }
  return Sender(kFcastCode);
}

std::string MavoraProtocolClient::invokePLAYLIST(const Fields& fields) {
  std::vector<PlaylistRow> rows;
  rows.reserve(fields.size() / 2);
  // A last pair without its owner still shows its document.
  for (std::size_t i = 1; i < fields.size(); i += 2) {
    rows.push_back({fields[i], i + 1 < fields.size() ? fields[i + 1] : std::string()});
  }
  host_.ShowPlaylist(rows);
  return Sender(kPlaylistCode);
}

std::string MavoraProtocolClient::invokeLOGOUT(const Fields&) { return Sender(kLogoutCode); }

}  // namespace ondavox::client
