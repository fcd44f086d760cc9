#pragma once

#include <string_view>

namespace ondavox {

// The reply codes the server sends on a client's TCP connection, one a line, each named after
// what the server's handler decided. The server's interpreter writes them, the client's session
// thread reads them (a refused login, a refused registration and an accepted logout end its
// session), tests compare against them. Replies that carry information (WHOIS, FILEINFO) are
// texts, not codes.

// LOGIN: the user is known, the password matches, the user is neither banned nor online.
inline constexpr std::string_view kLoginAccepted = "201";
// LOGOUT: the login is the one accepted on this connection; the server closes it.
inline constexpr std::string_view kLogoutAccepted = "202";
// REGISTER: the user was added (and is logged in on the connection).
inline constexpr std::string_view kRegistered = "204";
// KEY: the server's Ed25519 public key follows, after a tab, in base64. A server without a key
// does not know the command (kUnknownCommand).
inline constexpr std::string_view kServerKey = "230";
// RECEIVED: the delivery receipt was recorded.
inline constexpr std::string_view kReceiptRecorded = "220";
// PLAYLIST: the playlist was announced.
inline constexpr std::string_view kPlaylistAnnounced = "210";
// LOGIN: unknown user, wrong password, banned or already online.
inline constexpr std::string_view kLoginRefused = "401";
// LOGOUT: no login given, or not the one accepted on this connection.
inline constexpr std::string_view kLogoutRefused = "402";
// WHOIS: no such user.
inline constexpr std::string_view kUnknownUser = "403";
// REGISTER: the login exists already, or the user database is full.
inline constexpr std::string_view kRegisterRefused = "404";
// LOGIN, WHOIS, REGISTER or KEY with the wrong number of fields.
inline constexpr std::string_view kWrongFieldCount = "405";
// A command word the server does not know (matched with its case).
inline constexpr std::string_view kUnknownCommand = "406";
// FILEINFO: no such document, or the wrong number of fields.
inline constexpr std::string_view kUnknownDocument = "409";
// PLAYLIST with fields after the command word.
inline constexpr std::string_view kPlaylistWrongFieldCount = "410";
// RECEIVED: the wrong number of fields, a file no recent transfer sent, or a size or digest that
// is not the file's.
inline constexpr std::string_view kReceiptRefused = "420";
// RECEIVED on a connection with no accepted login.
inline constexpr std::string_view kReceiptNotLoggedIn = "421";

}  // namespace ondavox
