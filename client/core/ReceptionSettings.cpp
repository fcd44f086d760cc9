#include "client/core/ReceptionSettings.h"

namespace ondavox::client {

void ReceptionSettings::Update(const ClientConfig& config) {
  Update(config.downloadDirectory, config.associations);
}

void ReceptionSettings::Update(std::string downloadDirectory,
                               std::vector<FileAssociation> associations) {
  MutexLock lock(mu_);
  downloadDirectory_ = std::move(downloadDirectory);
  associations_ = std::move(associations);
}

std::string ReceptionSettings::DownloadDirectory() const {
  MutexLock lock(mu_);
  return downloadDirectory_;
}

std::vector<FileAssociation> ReceptionSettings::Associations() const {
  MutexLock lock(mu_);
  return associations_;
}

}  // namespace ondavox::client
