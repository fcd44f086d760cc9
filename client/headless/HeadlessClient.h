#pragma once

#include <signal.h>

#include <chrono>
#include <optional>
#include <string>

#include "client/core/ClientConfig.h"
#include "client/headless/ConsoleView.h"
#include "client/headless/StopEvents.h"

namespace ondavox::client {

// What the command line of ondavox-recv asks for.
struct HeadlessOptions {
  std::string configPath = "./client.ini";
  // The settings file was named on the command line: it must exist (the default one is
  // written with the defaults of its missing sections, as the window program does).
  bool configNamed = false;
  // REGISTER a new user (the login and password of the settings, with these names) instead
  // of LOGIN.
  bool registerUser = false;
  std::string name;
  std::string lastName;
  // Open each received file with its associated program (or the desktop's handler).
  bool open = true;
};

// The client without a window, one run of it: loads client.ini, connects, logs in (or
// registers), receives the broadcast files into the download folder while the session lasts,
// printing their progress (ProgressLines), and on a stop signal logs out and closes the
// session. It owns the console view, the stop events and, for the time of Run, the launcher
// and the ClientRunner.
//
// Made and run by the main thread, after the stop signals were blocked in it; the client core's
// threads only reach it through the view and the stop events.
class HeadlessClient {
 public:
  // Exit statuses of Run.
  static constexpr int kStopped = 0;  // stopped by a signal, logged out
  static constexpr int kFailed = 1;   // bad settings, no server, or the session ended by itself

  // The longest a stop waits for the server to answer LOGOUT before closing the session.
  static constexpr std::chrono::milliseconds kLogoutPatience{5000};

  // |stopSignals| are blocked in the calling thread already; log lines go to |outputFd|.
  HeadlessClient(HeadlessOptions options, const sigset_t& stopSignals, int outputFd);
  ~HeadlessClient();
  HeadlessClient(const HeadlessClient&) = delete;
  HeadlessClient& operator=(const HeadlessClient&) = delete;

  // Runs until a stop signal or the end of the session; returns the exit status.
  int Run();

  // The first setting of |config| that cannot work, as a text naming the key and the value;
  // nothing when all can.
  static std::optional<std::string> CheckSettings(const ClientConfig& config);

 private:
  const HeadlessOptions options_;
  const int outputFd_;
  ConsoleView view_;
  StopEvents events_;
};

}  // namespace ondavox::client
