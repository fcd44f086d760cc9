// The server without a window, for a headless host. It reads server.ini from the current
// directory (writing the defaults of missing sections), loads both databases, starts at once,
// writes the document's log lines with a time stamp to the standard output, and on SIGINT or
// SIGTERM stops the server (saving both databases) and exits 0. A database whose folder is
// missing or not writable, or that cannot be loaded, ends it with status 1 and a message naming
// the path. Its standard output is written through LineWriter, so a reader who stops reading
// never holds up the server nor its stop.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/CurrentDirectory.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/TimestampedLog.h"

namespace {

// True when the folder of the database file |path| (the current directory for a bare name)
// exists and can take new files; otherwise says so on the standard error, naming |key|.
bool DatabaseFolderUsable(const char* key, const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  if (std::filesystem::is_directory(folder, error) && ::access(folder.c_str(), W_OK | X_OK) == 0) {
    return true;
  }
  std::fprintf(stderr, "ondavoxd: the folder of %s %s does not exist or is not writable: %s\n", key,
               path.c_str(), folder.c_str());
  return false;
}

}  // namespace

int main() {
  // Blocked before any thread exists, so every thread inherits the mask and only sigwait below
  // receives the two signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ondavox::server::TimestampedLog log(STDOUT_FILENO);
  ondavox::server::COndavoxDoc document(
      ondavox::CurrentDirectory(), ondavox::server::FcastSenderThread::ComponentFactory(
                                       [&log](const std::string& text) { log.AppendLog(text); }));
  const ondavox::server::ServerConfig& config = document.config();
  if (!DatabaseFolderUsable("clientDatabase", config.clientDatabase) ||
      !DatabaseFolderUsable("documentDatabase", config.documentDatabase)) {
    return 1;
  }
  const ondavox::Status loaded = document.Load();
  if (!loaded.ok()) {
    std::fprintf(stderr, "ondavoxd: cannot load a database: %s\n", loaded.message().c_str());
    return 1;
  }
  document.SetLog(&log);
  if (!document.Start()) {
    log.AppendLog("Server start error.");
    std::fprintf(stderr, "ondavoxd: the TCP port or the multicast port is not a valid port\n");
    return 1;
  }
  log.AppendLog("Server started.");

  int received = 0;
  while (sigwait(&stopSignals, &received) != 0) {
  }
  const ondavox::Status saved = document.Stop();
  if (!saved.ok()) {
    log.AppendLog("Server Stop error.");
    std::fprintf(stderr, "ondavoxd: %s\n", saved.message().c_str());
    document.SetLog(nullptr);
    return 1;
  }
  log.AppendLog("Server stopped.");
  document.SetLog(nullptr);
  return 0;
}
