#include "client/headless/HeadlessClient.h"

#include <netinet/in.h>

#include <filesystem>
#include <system_error>

#include "client/core/ClientCommands.h"
#include "client/core/ClientLog.h"
#include "client/core/ClientRunner.h"
#include "client/headless/NoOpenLauncher.h"
#include "client/headless/ProgressLines.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Launcher.h"

namespace ondavox::client {
namespace {

bool ValidPort(int port) { return port > 0 && port <= 65535; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Waits for the open session to end by itself or for a stop signal; returns the exit status.
// The main thread only.
int Serve(ClientRunner& runner, StopEvents& events, const ConsoleView& view,
          const ClientConfig& config, ProgressLines& progress) {
  for (;;) {
    switch (events.Wait(ProgressLines::kPeriod)) {
      case StopEvents::Event::kStopSignal: {
        AppendLog("Stop requested, logging out", "INFO");
        runner.SendTCP(ClientCommands::Logout(config.login));
        // The server's answer to LOGOUT ends the session; a second signal or a server that
        // does not answer cuts it short.
        const auto deadline = std::chrono::steady_clock::now() + HeadlessClient::kLogoutPatience;
        while (runner.connected()) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              deadline - std::chrono::steady_clock::now());
          if (left.count() <= 0 ||
              events.Wait(left) != StopEvents::Event::kConnectionChanged) {
            break;
          }
        }
        if (runner.connected()) {
          AppendLog("No answer to LOGOUT, closing the session", "ERROR");
          runner.Close();  // leaves the group
        }
        return HeadlessClient::kStopped;
      }
      case StopEvents::Event::kConnectionChanged:
        if (runner.connected()) continue;
        if (view.ServerReached()) {
          AppendLog("The session was closed: login or register refused, or the server lost",
                    "ERROR");
        } else {
          AppendLog("Can't connect the server", "ERROR");
        }
        return HeadlessClient::kFailed;
      case StopEvents::Event::kTimeout:
        progress.Tick(std::chrono::steady_clock::now());
        continue;
      case StopEvents::Event::kError:
        AppendLog("Cannot wait for the stop signals", "ERROR");
        runner.Close();
        return HeadlessClient::kFailed;
    }
  }
}

}  // namespace

HeadlessClient::HeadlessClient(HeadlessOptions options, const sigset_t& stopSignals, int outputFd)
    : options_(std::move(options)), outputFd_(outputFd), view_(outputFd), events_(stopSignals) {
  ClientLog::Process().SetLogBox(&view_);
}

HeadlessClient::~HeadlessClient() { ClientLog::Process().SetLogBox(nullptr); }

std::optional<std::string> HeadlessClient::CheckSettings(const ClientConfig& config) {
  if (!Ipv4Endpoint::FromLegacyText(config.serverIP, 0)) {
    return "serverIP " + Quoted(config.serverIP) + " is not an IPv4 address";
  }
  if (!ValidPort(config.serverPort)) {
    return "serverPort " + std::to_string(config.serverPort) + " is not a port number";
  }
  if (!ValidPort(config.serverMulticastPort)) {
    return "serverMulticastPort " + std::to_string(config.serverMulticastPort) +
           " is not a port number";
  }
  const std::optional<Ipv4Endpoint> group = Ipv4Endpoint::FromLegacyText(config.serverGroup, 0);
  if (!group || !IN_MULTICAST(ntohl(group->Address()))) {
    return "serverGroup " + Quoted(config.serverGroup) + " is not a multicast group address";
  }
  return std::nullopt;
}

int HeadlessClient::Run() {
  if (!events_.ok()) {
    AppendLog("Cannot wait for the stop signals", "ERROR");
    return kFailed;
  }
  std::error_code error;
  if (options_.configNamed && !std::filesystem::is_regular_file(options_.configPath, error)) {
    AppendLog("No settings file " + options_.configPath, "ERROR");
    return kFailed;
  }
  const ClientConfig config(options_.configPath);
  if (const std::optional<std::string> problem = CheckSettings(config)) {
    AppendLog(config.iniPath + ": " + *problem, "ERROR");
    return kFailed;
  }
  std::filesystem::create_directories(config.downloadDirectory, error);
  if (!std::filesystem::is_directory(config.downloadDirectory, error)) {
    AppendLog(config.iniPath + ": downloadDirectory " + Quoted(config.downloadDirectory) +
                  " is not a folder and cannot be made one",
              "ERROR");
    return kFailed;
  }

  ProcessLauncher opener;
  NoOpenLauncher keeper;
  Launcher& launcher = options_.open ? static_cast<Launcher&>(opener) : keeper;
  bool receiverMade = false;
  // Declared after what its threads use (the launcher here, the view and the stop events as
  // members), so it closes the session and joins them first.
  ClientRunner runner(launcher, [&receiverMade] {
    auto receiver = ClientRunner::LoadFcastReceiver(
        [](const std::string& text) { AppendLog(text, "ERROR"); });
    receiverMade = receiver != nullptr;
    return receiver;
  });
  if (!receiverMade) return kFailed;  // no file could ever be received
  runner.settings().Update(config);
  runner.serverKey().Load(config.serverKey, config.PinWriter());
  runner.PublishView(&view_, &view_, &events_);

  // Logged before the session's threads start, so it comes before their lines.
  AppendLog("Try to connect", "INFO");
  runner.Connect(config.serverPort, config.serverMulticastPort, config.serverIP,
                 config.serverGroup);
  if (!runner.connected()) {
    AppendLog("Can't connect the server", "ERROR");
    return kFailed;
  }
  if (options_.registerUser) {
    runner.SendTCP(
        ClientCommands::Register(config.login, config.pass, options_.name, options_.lastName));
  } else {
    runner.SendTCP(ClientCommands::Login(config.login, config.pass));
  }
  ProgressLines progress(runner.fcastReceiver().object(), outputFd_);
  return Serve(runner, events_, view_, config, progress);
}

}  // namespace ondavox::client
