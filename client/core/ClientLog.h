#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/core/LogBox.h"
#include "platform/Mutex.h"

namespace ondavox::client {

// The client's event log: turns each logged text into one line, "hh:mm:ss > [TAG] text" (the tag
// part only when a tag is given), and hands the lines to the log box in the order they were
// logged. Lines logged before a log box exists (the Fcast receiver is built before the main
// view) are kept and handed over, in order, when the box is set; so are lines logged while the
// box is unset again. Nothing is ever refused or lost.
//
// One process-wide log (Process()) serves AppendLog; tests may build their own with a fixed clock.
// Any thread.
class ClientLog {
 public:
  struct LocalTime {
    int hours = 0;  // 0 to 23
    int minutes = 0;
    int seconds = 0;
  };
  using Clock = std::function<LocalTime()>;

  // |clock| gives the time stamp of each line; by default the system's local time.
  explicit ClientLog(Clock clock = {});

  static ClientLog& Process();

  // The line for |text| and |tag| at |time|; an empty tag adds no brackets.
  static std::string FormatLine(const LocalTime& time, std::string_view tag, std::string_view text);

  void Append(std::string_view text, std::string_view tag = {}) EXCLUDES(mu_);

  // Sends the kept lines and every later one to |box|, which must stay alive until it is
  // replaced; null keeps lines again until the next box.
  void SetLogBox(LogBox* box) EXCLUDES(mu_);

 private:
  Clock clock_;
  Mutex mu_;
  LogBox* box_ GUARDED_BY(mu_) = nullptr;
  std::vector<std::string> kept_ GUARDED_BY(mu_);
};

// Adds one line to the client's log (ClientLog::Process()). Any thread.
void AppendLog(std::string_view text, std::string_view tag = {});

}  // namespace ondavox::client
