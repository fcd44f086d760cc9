// The client core as a program of its own, for the full-system test: one client on one lab host.
// It runs in |folder| (so client.ini, the download folder and the file associations are the ones
// the test wrote there), opens the Fcast receiver from |library|, and takes its user's actions
// as lines from the named pipe |commands|: "CONNECT" connects as the Connect command does, any
// other line is a command's fields joined by TABs, handed to the session as the window would.
// What the user would see goes to the standard output, one line each:
//   LOG <log box line>          INFOS <Infos box text, escaped>
//   PLAYLIST[\t<document>\t<owner>]...
// The trace lines go to the standard error. Runs until killed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "client/core/ClientConfig.h"
#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "client/core/InfosBox.h"
#include "client/core/LogBox.h"
#include "client/core/PlaylistList.h"
#include "common/LineReader.h"
#include "common/MavoraProtocol.h"
#include "platform/Launcher.h"
#include "platform/Mutex.h"
#include "platform/Trace.h"

namespace ondavox::client {
namespace {

// The main view of this program: every change becomes one whole line on the standard output.
// Any thread.
class ConsoleView final : public LogBox, public InfosBox, public PlaylistList {
 public:
  void AppendLine(const std::string& line) override { Write("LOG " + line); }
  void SetText(const std::string& text) override { Write("INFOS " + Escape(text)); }
  void ReplaceRows(const std::vector<PlaylistRow>& rows) override {
    std::string line = "PLAYLIST";
    for (const PlaylistRow& row : rows) line += "\t" + row.document + "\t" + row.owner;
    Write(line);
  }

  // \r, \n, \t and \ written as two characters, so a text stays on one line.
  static std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
      switch (c) {
        case '\r':
          escaped += "\\r";
          break;
        case '\n':
          escaped += "\\n";
          break;
        case '\t':
          escaped += "\\t";
          break;
        case '\\':
          escaped += "\\\\";
          break;
        default:
          escaped += c;
      }
    }
    return escaped;
  }

 private:
  void Write(std::string line) EXCLUDES(mu_) {
    line += '\n';
    MutexLock lock(mu_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }

  Mutex mu_;
};

int Run(const std::string& folder, const std::string& library, const std::string& commands) {
  if (::chdir(folder.c_str()) != 0) {
    std::perror(folder.c_str());
    return 2;
  }
  // Read and written by this program: the pipe never reaches its end while it lives.
  const int pipe = ::open(commands.c_str(), O_RDWR);
  if (pipe < 0) {
    std::perror(commands.c_str());
    return 2;
  }
  SetTraceSink([](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
  });

  ConsoleView view;
  ClientLog::Process().SetLogBox(&view);
  ClientConfig config;
  ProcessLauncher launcher;
  ClientRunner runner(launcher, [&] {
    return ClientRunner::LoadFcastReceiver(
        [&view](const std::string& text) { view.AppendLine("MESSAGE " + text); }, {library});
  });
  runner.PublishView(&view, &view);
  runner.settings().Update(config);

  LineReader reader([pipe](char* buffer, std::size_t capacity) -> long {
    long n = 0;
    do {
      n = ::read(pipe, buffer, capacity);
    } while (n < 0 && errno == EINTR);
    return n;
  });
  for (;;) {
    const std::optional<std::string> line = reader.ReadLine();
    if (!line) return 1;  // the pipe failed: the test sends no empty line
    if (*line == "CONNECT") {
      AppendLog("Try to connect", "INFO");
      runner.Connect(config.serverPort, config.serverMulticastPort, config.serverIP,
                     config.serverGroup);
    } else {
      runner.SendTCP(MavoraProtocol().extractParams(*line));
    }
  }
}

}  // namespace
}  // namespace ondavox::client

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER FCAST-LIBRARY COMMAND-PIPE\n", argv[0]);
    return 2;
  }
  return ondavox::client::Run(argv[1], argv[2], argv[3]);
}
