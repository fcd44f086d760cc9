#pragma once

#include <cstdint>
#include <string>

#include "common/IniFile.h"
#include "platform/Status.h"

namespace ondavox::server {

// The server's eleven settings with their persistence in server.ini: the folder and files of
// the databases and documents ([Server]), the TCP port ([TCP]), the announcement group
// ([UDP]) and the Fcast parameters ([Fcast]); with them, the optional interfaces that send the
// announcements and the files. One table of (section, key, field, default) drives the load,
// the writing of missing sections and the save.
//
// Loading (at construction): a present key that is empty or zero takes its field's default,
// which is not written (an empty MulticastIP stays empty); a missing section takes the
// defaults of all its keys and writes them at once. Integers are read leniently from the
// start of the text ("12ab" is 12, "abc" is 0 and so takes the default).
//
// The two Interface keys ([UDP] and [Fcast]) are optional: read when present, never added to a
// missing section, saved only when set. Empty leaves the choice to the system's routes.
//
// An optional [Limits] section sets the connection limits; it is read when present and never
// written, so a file without it stays as it is.
//
// Owned by the server document; window thread only.
class ServerConfig {
 public:
  // Loads |fileName| (a relative name resolves against the current directory), with defaults
  // built on the current directory.
  explicit ServerConfig(std::string fileName);
  // Loads |fileName| with defaults built on |currentDirectory|.
  ServerConfig(std::string fileName, std::string currentDirectory);

  const std::string& fileName() const { return ini_.fileName(); }
  // Binds the settings to another file; nothing is read or written.
  void SetFileName(std::string fileName) { ini_ = IniFile(std::move(fileName)); }
  // Writes all eleven values in table order, and each interface that is set; false when a
  // write failed.
  bool Save();
  // Ok when each interface that is set is the IPv4 address (dotted quad) of one of this host's
  // interfaces; otherwise an InvalidArgument naming the setting ("[UDP] Interface").
  Status CheckInterfaces() const;

  // The documentPath of a server in |currentDirectory| that has not set one.
  static std::string DefaultDocumentPath(const std::string& currentDirectory) {
    return currentDirectory + "/upload/";
  }

  // [Server]
  std::string path;
  std::string clientDatabase;
  std::string documentDatabase;
  std::string documentPath;
  // [TCP]
  int32_t Port = 0;
  // [UDP]
  int32_t MulticastPort = 0;
  std::string MulticastIP;
  std::string MulticastInterface;  // the address whose interface sends announcements; optional
  // [Fcast]
  int32_t FcastRound = 0;
  std::string FcastIP;
  int32_t FcastPort = 0;
  int32_t FcastRate = 0;
  std::string FcastInterface;  // the address whose interface sends the files; optional
  // [Limits], read only; 0 where absent, which leaves the server its default.
  int32_t MaxConnections = 0;
  int32_t MaxUnauthenticated = 0;
  int32_t LoginTimeout = 0;  // seconds

 private:
  struct Key;
  static const Key kKeys[];
  void Load(const std::string& currentDirectory);

  IniFile ini_;
};

}  // namespace ondavox::server
