#pragma once

#include <string>
#include <vector>

#include "client/core/ClientConfig.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The settings that the network threads read while the user may be editing the configuration:
// the download directory (read when an FCAST announcement arrives) and the association list
// (read when a file has been received). The window thread copies them in from its
// ClientConfig after loading it and after each dialog that changes them; the network threads
// read consistent copies. Owned by the ClientRunner. Any thread.
class ReceptionSettings {
 public:
  void Update(const ClientConfig& config) EXCLUDES(mu_);
  void Update(std::string downloadDirectory, std::vector<FileAssociation> associations)
      EXCLUDES(mu_);

  std::string DownloadDirectory() const EXCLUDES(mu_);
  std::vector<FileAssociation> Associations() const EXCLUDES(mu_);

 private:
  mutable Mutex mu_;
  std::string downloadDirectory_ GUARDED_BY(mu_);
  std::vector<FileAssociation> associations_ GUARDED_BY(mu_);
};

}  // namespace ondavox::client
