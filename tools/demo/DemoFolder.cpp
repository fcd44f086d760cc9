#include "tools/demo/DemoFolder.h"

#include <memory>
#include <system_error>

#include "client/core/ClientConfig.h"
#include "platform/AtomicFile.h"
#include "server/app/ServerConfig.h"
#include "server/data/CDocInfo.h"
#include "server/data/CUserInfo.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/UserDatabase.h"
#include "tools/demo/DemoSamples.h"

namespace ondavox {
namespace {

using client::ClientConfig;
using server::CDocInfo;
using server::CUserInfo;
using server::DocumentDatabase;
using server::ServerConfig;
using server::UserDatabase;

Status MakeDirectory(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return Status::IoError("cannot create " + directory.string() + ": " + error.message());
  return {};
}

}  // namespace

Status DemoFolder::Prepare(const std::string& serverAddress) const {
  Status status = PrepareServer();
  if (!status.ok()) return status;
  return PrepareClient(serverAddress);
}

Status DemoFolder::PrepareServer() const {
  Status status = MakeDirectory(serverDirectory());
  if (!status.ok()) return status;
  // Writes the sections it does not find, with paths under the server folder.
  ServerConfig config((serverDirectory() / "server.ini").string(), serverDirectory().string());

  UserDatabase users(config.clientDatabase);
  DocumentDatabase documents(config.documentDatabase);
  if (!(status = users.Load()).ok() || !(status = documents.Load()).ok()) return status;

  if (users.Find(kLogin) == nullptr) {
    auto user = std::make_unique<CUserInfo>(kLogin, kPassword, "Demo", "User", 0, 0, "", 0);
    users.Add(user);
  }
  const std::filesystem::path upload = config.documentPath;
  if (!(status = MakeDirectory(upload)).ok()) return status;
  for (const DemoSample& sample : MakeDemoSamples()) {
    const std::string path = (upload / sample.fileName).string();
    if (!(status = WriteFileAtomically(path, sample.bytes)).ok()) return status;
    if (documents.Find(CDocInfo::MakeKey(kOwner, sample.fileName)) == nullptr) {
      auto document = std::make_unique<CDocInfo>(sample.fileName, kOwner, path, sample.mimeType, 0,
                                                 1, sample.description);
      documents.Add(document);
    }
  }
  if (!(status = users.Save()).ok()) return status;
  return documents.Save();
}

Status DemoFolder::PrepareClient(const std::string& serverAddress) const {
  const std::filesystem::path download = clientDirectory() / "download";
  Status status = MakeDirectory(download);
  if (!status.ok()) return status;
  const ServerConfig server((serverDirectory() / "server.ini").string(),
                            serverDirectory().string());
  ClientConfig client((clientDirectory() / "client.ini").string());
  client.serverIP = serverAddress;
  client.serverPort = server.Port;
  client.serverMulticastPort = server.MulticastPort;
  client.serverGroup = server.MulticastIP;
  client.downloadDirectory = download.string() + "/";
  client.login = kLogin;
  client.pass = kPassword;
  client.Save();
  return {};
}

}  // namespace ondavox
