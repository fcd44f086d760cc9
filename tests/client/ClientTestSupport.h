#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/core/ClientLog.h"
#include "client/core/ConnectionListener.h"
#include "client/core/InfosBox.h"
#include "client/core/PlaylistList.h"
#include "common/FcastComponent.h"
#include "platform/Launcher.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"

namespace ondavox::test {

using client::ConnectionListener;
using client::InfosBox;
using client::LogBox;
using client::PlaylistList;
using client::PlaylistRow;

// The log box of a test: records the lines, and is the process log's box while it lives.
class RecordingLogBox final : public LogBox {
 public:
  RecordingLogBox();
  ~RecordingLogBox() override;
  void AppendLine(const std::string& line) override;

  std::vector<std::string> Lines() const;
  // The lines without their "hh:mm:ss > " time stamp (checked to be there).
  std::vector<std::string> Bodies() const;
  // How many lines read exactly |body| after the time stamp.
  int Count(const std::string& body) const;
  // Waits until a line reads |body| after its time stamp.
  bool WaitForLine(const std::string& body) const;
  // True when |expected| appear in this order, other lines between them allowed.
  bool InOrder(const std::vector<std::string>& expected) const;

 private:
  mutable Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
};

// The Infos box, playlist list and connection listener of a test.
class RecordingView final : public InfosBox, public PlaylistList, public ConnectionListener {
 public:
  void SetText(const std::string& text) override;
  void ReplaceRows(const std::vector<PlaylistRow>& rows) override;
  void ConnectionChanged() override { ++connectionChanges; }
  std::optional<std::string> Infos() const;
  std::optional<std::vector<PlaylistRow>> Rows() const;

  std::atomic<int> connectionChanges{0};

 private:
  mutable Mutex mu_;
  std::optional<std::string> infos_ GUARDED_BY(mu_);
  std::optional<std::vector<PlaylistRow>> rows_ GUARDED_BY(mu_);
};

// Records what would have been started instead of starting it.
class RecordingLauncher final : public Launcher {
 public:
  struct Started {
    std::string program;  // "open" for the desktop's handler
    std::vector<std::string> args;
    bool operator==(const Started&) const = default;
  };
  bool Launch(const std::string& program, const std::vector<std::string>& args) override;
  bool OpenWithDesktop(const std::string& path) override;
  std::vector<Started> Launches() const;

 private:
  mutable Mutex mu_;
  std::vector<Started> launches_ GUARDED_BY(mu_);
};

// A receiver object that hands out scripted events and records its calls.
class FakeReceiverObject final : public FcastReceiverObject {
 public:
  struct Event {
    long result = kFcastOk;  // what GetEvent returns
    long code = 0;
    long error = 0;
    long fileId = 0;
    long size = 0;
    std::string name;
  };

  long Start() override;
  long Init(const std::string& group, long port, const std::string& folder) override;
  long GetEvent(long timeLimitMs, long* code, long* error, long* fileId, long* size,
                std::string* name, short* unused) override;
  // Gives the figures of the last SetProgress (zeros at first).
  long GetStatistics(long* fileId, std::string* name, long* size, long* symbolsHeld,
                     long* symbolsNeeded) override;
  // Recorded as "SetTrustedKey <base64>" (or "SetTrustedKey " for none) and "SetSource <address>".
  long SetTrustedKey(const std::vector<unsigned char>& publicKey) override;
  long SetSource(const std::string& address) override;

  struct Progress {
    long fileId = 0;
    std::string name;
    long size = 0;
    long symbolsHeld = 0;
    long symbolsNeeded = 0;
  };
  void SetProgress(Progress progress);
  void Push(Event event);
  void FailInit(bool fail);
  std::vector<std::string> Calls() const;
  // True once every pushed event has been taken.
  bool Drained() const;
  // How many waits ended without an event.
  int Timeouts() const;

 private:
  mutable Mutex mu_;
  CondVar cv_;
  std::deque<Event> events_ GUARDED_BY(mu_);
  std::vector<std::string> calls_ GUARDED_BY(mu_);
  bool failInit_ GUARDED_BY(mu_) = false;
  int timeouts_ GUARDED_BY(mu_) = 0;
  Progress progress_ GUARDED_BY(mu_);
};

// A TCP server on the loopback that plays a script: it accepts connections one after the
// other, records every line a client sends, and answers each with what |reply| returns for it
// (nothing closes the connection). With |closeAtOnce| it closes each connection as soon as it
// has accepted it.
class ScriptedServer {
 public:
  using Reply = std::function<std::optional<std::string>(const std::string& line)>;
  explicit ScriptedServer(Reply reply, bool closeAtOnce = false);
  ~ScriptedServer();

  int Port() const { return port_; }
  std::vector<std::string> Lines() const;
  bool WaitForLines(std::size_t count) const;
  // Connections whose peer has closed them.
  int Ended() const { return ended_.load(); }

 private:
  void Serve();

  const Reply reply_;
  const bool closeAtOnce_;
  Socket listener_;
  int port_ = 0;
  std::atomic<int> ended_{0};
  mutable Mutex mu_;
  bool stop_ GUARDED_BY(mu_) = false;
  int connection_ GUARDED_BY(mu_) = -1;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
  std::thread thread_;
};

// Sends datagrams to a multicast group over the loopback, from |from| (a loopback address) when
// given.
class AnnouncementSender {
 public:
  explicit AnnouncementSender(const std::string& from = {});
  void Send(const std::string& group, int port, const std::string& bytes);

 private:
  Socket socket_;
};

// A port on the loopback where nothing listens.
int UnusedTcpPort();

// Reply |code| as the server writes it, ended by its line feed.
inline std::string ReplyLine(std::string_view code) { return std::string(code) + "\n"; }
// The log line (without its time stamp) that shows reply |code|.
inline std::string TcpLine(std::string_view code) { return "[TCP] " + std::string(code); }

}  // namespace ondavox::test
