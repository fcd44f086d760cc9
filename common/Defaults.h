#pragma once

#include <cstdint>
#include <string_view>

namespace ondavox {

// Where and how the server listens, announces and broadcasts when server.ini does not say
// otherwise, and where the client looks for it when client.ini does not: the server's
// settings, the client's settings and the server runner's own defaults all start from these.

// The server's TCP port for the one-line protocol.
inline constexpr std::uint16_t kDefaultTcpPort = 1550;
// The announcements' group and port: the server's announcer binds and sends to the port, the
// client's listener binds it and joins the group.
inline constexpr std::string_view kDefaultAnnouncementGroup = "230.0.0.1";
inline constexpr std::uint16_t kDefaultAnnouncementPort = 2001;
// The group and port the Fcast transfers are sent to, the rounds each file is sent and the
// sending rate in kbit/s.
inline constexpr std::string_view kDefaultFcastGroup = "230.0.0.2";
inline constexpr std::uint16_t kDefaultFcastPort = 1711;
inline constexpr std::int32_t kDefaultFcastRounds = 3;
inline constexpr std::int32_t kDefaultFcastRate = 400;

}  // namespace ondavox
