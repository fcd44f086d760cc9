#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/core/PlaylistList.h"
#include "common/LineReader.h"
#include "common/MavoraProtocol.h"
#include "platform/Ipv4Endpoint.h"

namespace ondavox::client {

// The client's protocol object: turns a command's fields into the bytes sent to the server,
// reads reply lines and announcement datagrams, and interprets the announcements (USERS, DOCS,
// FCAST, LOGOUT, PLAYLIST). Created once by the ClientRunner, which it reaches through Host.
//
// It holds no state that changes after construction: the TCP session thread calls joinParams,
// sendMsg and receiveMsg, the multicast listener thread ReceiveMsgMULTICAST and invoke, at the
// same time.
class MavoraProtocolClient : public MavoraProtocol {
 public:
  // What the announcement handlers act on; the ClientRunner in the program.
  class Host {
   public:
    virtual ~Host() = default;
    // Replaces the rows of the playlist list.
    virtual void ShowPlaylist(const std::vector<PlaylistRow>& rows) = 0;
    // The download directory currently held in the settings.
    virtual std::string DownloadDirectory() const = 0;
    // Starts the Fcast reception of the announced group and port into |folder|.
    virtual void StartFcast(const std::string& group, int port, const std::string& folder) = 0;
  };

  // The largest datagram payload IPv4 can carry; an announcement is received whole up to it.
  static constexpr std::size_t kMaxDatagram = 65507;

  // The handler codes that invoke returns; they never leave the client.
  static constexpr std::string_view kUsersCode = "201";
  static constexpr std::string_view kLogoutCode = "202";
  static constexpr std::string_view kDocsCode = "203";
  static constexpr std::string_view kFcastCode = "204";
  static constexpr std::string_view kPlaylistCode = "207";
  static constexpr std::string_view kUnknownCode = "406";

  // |host| must outlive the object.
  explicit MavoraProtocolClient(Host& host, char separator = kTab);

  // Interprets one announcement and returns its handler's code.
  std::string invoke(std::string_view announcement);

  // The fields joined with the separator, then one line feed.
  std::string joinParams(const Fields& fields) const;
  // One reply line from the connection, or nothing when the connection is over.
  std::optional<std::string> receiveMsg(LineReader& reader) const;
  // Writes |message| (which already ends in a line feed) unchanged. False on error.
  bool sendMsg(int fd, std::string_view message) const;
  // One announcement from the listener's socket: the datagram without its last byte. Nothing
  // when the receive fails (a closed socket included) or the datagram is too long. |sender|, when
  // given, is set to where the datagram came from.
  std::optional<std::string> ReceiveMsgMULTICAST(int fd, Ipv4Endpoint* sender = nullptr) const;

  std::string invokeUSERS(const Fields& fields);
  std::string invokeDOCS(const Fields& fields);
  std::string invokeFCAST(const Fields& fields);
  std::string invokePLAYLIST(const Fields& fields);
  std::string invokeLOGOUT(const Fields& fields);

 private:
  Host& host_;
};

}  // namespace ondavox::client
