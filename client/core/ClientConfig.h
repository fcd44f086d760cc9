#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/IniFile.h"

namespace ondavox::client {

// One file association: a received file whose name ends with |extension| (compared byte for
// byte, no dot added) is opened with |program|.
struct FileAssociation {
  std::string extension;
  std::string program;
  bool operator==(const FileAssociation&) const = default;
};

// The client's settings and their file client.ini: a plain record with the settings' defaults,
// loaded at construction; the sections missing from the file are written with their defaults at
// once, and Save writes every key but serverKey, which only a pin writes (PinWriter). One table of
// (section, key, field, default) drives the three.
//
// Owned by the main frame and used on the window thread only; the network threads read the
// values they need from a copy (ReceptionSettings).
class ClientConfig {
 public:
  // The most associations read from the file, whatever nbext says.
  static constexpr int kMaxAssociations = 1000;

  // Binds the record to |iniPath| (relative names against the current directory) and loads it.
  explicit ClientConfig(std::string iniPath = "./client.ini");

  void Load();
  void Save();
  // What writes a newly pinned server key to the file at once, and nothing else: the settings
  // edited in memory stay unsaved. Bound to the file's absolute path now; usable on any thread
  // and after the record is gone.
  std::function<bool(const std::string& text)> PinWriter() const;

  std::string serverIP;
  int serverPort = 0;
  int serverMulticastPort = 0;
  std::string serverGroup;
  // The server's public key in base64, pinned at the first login; empty until then.
  std::string serverKey;
  std::string downloadDirectory;
  std::string login;
  std::string pass;
  int nbext = 0;
  std::vector<FileAssociation> associations;

  const std::string iniPath;
  IniFile ini;
  // The current directory at construction followed by "/download/".
  const std::string defaultDownloadDirectory;
};

}  // namespace ondavox::client
