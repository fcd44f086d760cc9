// The server without a window, for a headless host. It reads server.ini from the current
// directory (writing the defaults of missing sections), loads both databases, opens the
// administration channel, starts at once and writes the document's log lines with a time stamp
// to the standard output (the trace lines too, with --trace). On SIGINT or SIGTERM it closes the
// channel, stops the server (saving both databases) and exits 0. A database whose folder is
// missing or not writable, a database that cannot be loaded, a channel socket that cannot be
// opened (another server holds it) or a start that fails (a port, an interface, the server's
// key in server.key) ends it with status 1 and a message.
// Its standard output is written through LineWriter, so a reader who stops reading never holds
// up the server nor its stop.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/CommandLine.h"
#include "platform/StopSignals.h"
#include "platform/CurrentDirectory.h"
#include "platform/Trace.h"
#include "server/app/COndavoxDoc.h"
#include "server/app/ServerAdministration.h"
#include "server/app/TimestampedLog.h"
#include "server/control/ControlChannel.h"

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

int main(int argc, char** argv) {
  const std::unique_ptr<CLI::App> app = ondavox::MakeCommandLine(
      "The Ondavox server without a window. Run it in the server's folder: it reads server.ini "
      "there and keeps its databases where server.ini says.",
      "ondavoxd");
  std::string socketPath;
  bool trace = false;
  app->add_option("--socket", socketPath,
                 "The administration socket (default: $ONDAVOX_SOCKET, else ondavox.sock in the "
                 "current folder)");
  app->add_flag("--trace", trace, "Also write the detailed trace lines to the standard output");
  if (const std::optional<int> exit = ondavox::ParseCommandLine(*app, argc, argv)) return *exit;
  if (!trace) ondavox::SetTraceSink([](std::string_view) {});

  // Before any thread exists; only sigwait below receives the two signals.
  sigset_t stopSignals = ondavox::BlockStopSignals();

  const std::string folder = ondavox::CurrentDirectory();
  ondavox::server::TimestampedLog log(STDOUT_FILENO);
  ondavox::server::COndavoxDoc document(
      folder, ondavox::server::FcastSenderThread::ComponentFactory(
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

  ondavox::server::ServerAdministration admin(document);
  ondavox::server::ControlChannel channel(
      document, {[&admin] { return admin.StartServer(); }, [&admin] { return admin.StopServer(); }});
  const ondavox::Status opened =
      channel.Open(ondavox::server::ControlChannel::ChoosePath(socketPath, folder));
  if (!opened.ok()) {
    std::fprintf(stderr, "ondavoxd: administration channel: %s\n", opened.message().c_str());
    document.SetLog(nullptr);
    return 1;
  }
  if (const ondavox::Status started = admin.StartServer(); !started.ok()) {
    std::fprintf(stderr, "ondavoxd: %s\n", started.message().c_str());
    channel.Close();
    document.SetLog(nullptr);
    return 1;
  }

  int received = 0;
  while (sigwait(&stopSignals, &received) != 0) {
  }
  channel.Close();  // no request changes anything after the stop's saves
  const ondavox::Status saved = admin.StopServer();
  document.SetLog(nullptr);
  if (!saved.ok()) {
    std::fprintf(stderr, "ondavoxd: %s\n", saved.message().c_str());
    return 1;
  }
  return 0;
}
