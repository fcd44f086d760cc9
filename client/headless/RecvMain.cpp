// The client without a window: reads client.ini, connects, logs in (or registers), receives
// every broadcast file into the download folder and opens it, writing the client's log to the
// standard output. SIGINT or SIGTERM logs out and exits 0; bad settings, a server that cannot
// be reached or a session that ends by itself (a refused login, a lost server) exit 1. The
// core's trace lines are dropped unless --trace asks for them.
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <string_view>

#include "client/headless/HeadlessClient.h"
#include "common/CommandLine.h"
#include "platform/StopSignals.h"
#include "platform/Trace.h"

int main(int argc, char** argv) {
  ondavox::client::HeadlessOptions options;
  bool noOpen = false;
  const std::unique_ptr<CLI::App> app = ondavox::MakeCommandLine(
      "Receives the files the Ondavox server broadcasts, without a window.", "ondavox-recv");
  app->add_option("--config", options.configPath,
                 "Settings file to use instead of client.ini in the current folder");
  auto* registering = app->add_flag(
      "--register", options.registerUser,
      "Register a new user with the login and password of the settings, then log in");
  auto* name = app->add_option("--name", options.name, "First name of the new user");
  auto* lastName = app->add_option("--last-name", options.lastName, "Last name of the new user");
  registering->needs(name, lastName);
  name->needs(registering);
  lastName->needs(registering);
  app->add_flag("--no-open", noOpen, "Keep the received files without opening them");
  bool trace = false;
  app->add_flag("--trace", trace, "Also write the core's trace lines to the standard output");
  if (const std::optional<int> status = ondavox::ParseCommandLine(*app, argc, argv)) return *status;
  options.configNamed = app->count("--config") > 0;
  options.open = !noOpen;
  // Without --trace the output holds the client's log only: the trace lines (several per
  // request) would bury it in the journal.
  if (!trace) ondavox::SetTraceSink([](std::string_view) {});

  // Before any thread exists; only the client's signalfd receives the two signals.
  const sigset_t stopSignals = ondavox::BlockStopSignals();

  ondavox::client::HeadlessClient client(std::move(options), stopSignals, STDOUT_FILENO);
  return client.Run();
}
