#pragma once

#include <filesystem>
#include <string>

#include "platform/Status.h"

namespace ondavox {

// The demo folder that scripts/run prepares before it starts the programs: server/ holds
// server.ini, both database files and the upload folder with the sample documents; client/
// holds client.ini and the download folder. The settings files are written through the
// programs' own settings classes and the databases through the server's own database classes,
// so the server loads exactly what the demo prepared.
//
// Preparing again keeps what the folder already holds (settings, users, documents added by
// hand) and only adds what is missing, except the client's connection settings and demo user,
// which are set to meet the server at |serverAddress|. Used by ondavox-demo-setup on its one
// thread.
class DemoFolder {
 public:
  static constexpr char kLogin[] = "demo";
  static constexpr char kPassword[] = "demo";
  static constexpr char kOwner[] = "root";

  // A relative |root| is taken against the current directory now: the settings store absolute
  // paths, so the programs find their files from their own start directories.
  explicit DemoFolder(const std::filesystem::path& root) : root_(std::filesystem::absolute(root)) {}

  std::filesystem::path serverDirectory() const { return root_ / "server"; }
  std::filesystem::path clientDirectory() const { return root_ / "client"; }

  // Writes or completes both folders. The first failure ends it and says what failed; a
  // database that does not load is left as it is.
  Status Prepare(const std::string& serverAddress) const;

 private:
  Status PrepareServer() const;
  Status PrepareClient(const std::string& serverAddress) const;

  std::filesystem::path root_;
};

}  // namespace ondavox
