#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "client/core/InfosBox.h"
#include "client/core/LogBox.h"
#include "client/core/PlaylistList.h"

namespace ondavox::client {

// The client's view without a window: its log box, Infos box and playlist list all become
// lines on the standard output. Log lines are written as ClientLog formats them, each with one
// write through the output's LineWriter (the trace lines' queue, so the two never interleave
// and a reader who stops reading holds nothing up); the password field of a sent LOGIN or
// REGISTER is written as "*****", since this output usually ends up in a journal. The Infos
// text and each playlist announcement are logged again as lines of their own ("[INFOS]",
// "[PLAYLIST]"), so they keep their place among the other lines.
//
// Owned by HeadlessClient, which publishes it to the ClientLog and the ClientRunner and
// withdraws it before it goes. Any thread (ClientLog never calls AppendLine twice at once).
class ConsoleView final : public LogBox, public InfosBox, public PlaylistList {
 public:
  explicit ConsoleView(int fd) : fd_(fd) {}

  void AppendLine(const std::string& line) override;
  void SetText(const std::string& text) override;
  void ReplaceRows(const std::vector<PlaylistRow>& rows) override;

  // True once the TCP session has connected to the server ("You are connected" was logged).
  bool ServerReached() const { return serverReached_.load(); }

  // |line| with the password of a logged LOGIN or REGISTER replaced by "*****"; any other line
  // unchanged.
  static std::string HidePassword(const std::string& line);

 private:
  const int fd_;
  std::atomic<bool> serverReached_{false};
};

}  // namespace ondavox::client
