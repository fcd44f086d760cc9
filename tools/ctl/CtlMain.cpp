// ondavoxctl: administers a running server over its administration socket. Sends the chosen
// command as one request, shows the reply (as tables and summaries, or as the raw JSON lines
// with --json) and exits 0 when done, 1 when the server refused (its reason on the standard
// error), 2 on a usage error, 3 when the server cannot be reached or does not answer.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "common/CommandLine.h"
#include "tools/ctl/ControlClient.h"
#include "tools/ctl/CtlCommands.h"

namespace ondavox {
namespace {

constexpr int kRefusedExit = 1;
constexpr int kUnreachableExit = 3;

// $ONDAVOX_SOCKET, else the server's default beside its settings in the current folder.
std::string DefaultSocket() {
  const char* socket = std::getenv("ONDAVOX_SOCKET");
  return socket != nullptr && *socket != '\0' ? socket : "ondavox.sock";
}

// |reason| names the socket.
int Unreachable(const std::string& reason) {
  std::cerr << "ondavoxctl: server not reachable: " << reason << '\n';
  return kUnreachableExit;
}

// A line from the server as it came and as parsed.
struct Line {
  std::string raw;
  nlohmann::json value;
};

// The next line from |client| (at |socket|); nothing when the server closed the connection; an
// error when the line cannot be read or is not a JSON object.
StatusOr<std::optional<Line>> ReadJsonLine(ControlClient& client, const std::string& socket) {
  auto line = client.ReadLine();
  if (!line.ok()) return line.status();
  if (!*line) return std::optional<Line>();
  nlohmann::json value = nlohmann::json::parse(**line, nullptr, false);
  if (value.is_discarded() || !value.is_object()) {
    return Status::InvalidArgument(socket + ": the reply is not a JSON object: " + **line);
  }
  return std::optional<Line>(Line{std::move(**line), std::move(value)});
}

// Ctrl+C while following the log ends the program normally: every line is already printed.
void FollowInterrupted(int) { ::_exit(0); }

// Prints log records as the server sends them until it closes the connection.
int Follow(ControlClient& client, const std::string& socket, bool raw) {
  struct sigaction action {};
  action.sa_handler = FollowInterrupted;
  ::sigaction(SIGINT, &action, nullptr);
  while (true) {
    auto line = ReadJsonLine(client, socket);
    if (!line.ok()) return Unreachable(line.status().message());
    if (!*line) return 0;
    if (raw) {
      std::cout << (*line)->raw << std::endl;
    } else {
      CtlCommands::PrintLogRecord((*line)->value, std::cout);
      std::cout.flush();
    }
  }
}

int Run(const std::string& socket, bool raw, const CtlCommands& commands) {
  auto client = ControlClient::Connect(socket);
  if (!client.ok()) return Unreachable(client.status().message());
  // Arguments that are not UTF-8 (a Latin-1 terminal) are sent with replacement characters
  // rather than ending the program with an exception.
  const std::string request =
      commands.request().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (Status sent = client->Send(request); !sent.ok()) {
    return Unreachable(sent.message());
  }
  auto reply = ReadJsonLine(*client, socket);
  if (!reply.ok()) return Unreachable(reply.status().message());
  if (!*reply) return Unreachable(socket + ": the server closed the connection without a reply");
  const nlohmann::json& value = (*reply)->value;
  const auto ok = value.find("ok");
  if (ok == value.end() || !ok->is_boolean()) {
    return Unreachable(socket + ": the reply has no \"ok\": " + (*reply)->raw);
  }
  if (raw) std::cout << (*reply)->raw << std::endl;
  if (!ok->get<bool>()) {
    const auto error = value.find("error");
    std::cerr << (error != value.end() && error->is_string() ? error->get<std::string>()
                                                             : value.dump())
              << '\n';
    return kRefusedExit;
  }
  if (!raw) {
    if (Status shown = commands.PrintReply(value, std::cout); !shown.ok()) {
      return Unreachable(socket + ": " + shown.message());
    }
    std::cout.flush();
  }
  return commands.follows() ? Follow(*client, socket, raw) : 0;
}

}  // namespace
}  // namespace ondavox

int main(int argc, char** argv) {
  using namespace ondavox;
  const std::unique_ptr<CLI::App> app = MakeCommandLine("Administers a running ondavoxd through its administration socket.",
                  "ondavoxctl");
  std::string socket = DefaultSocket();
  bool raw = false;
  app->add_option("--socket", socket,
                  "The server's administration socket ($ONDAVOX_SOCKET, else ondavox.sock in "
                  "the current folder)");
  app->add_flag("--json", raw, "Print the server's reply lines as they are");
  app->require_subcommand(1);
  app->fallthrough();
  CtlCommands commands(*app);
  if (const std::optional<int> exit = ParseCommandLine(*app, argc, argv)) return *exit;
  return Run(socket, raw, commands);
}
