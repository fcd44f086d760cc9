#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Defaults.h"
#include "common/LineReader.h"
#include "platform/Ipv4Endpoint.h"
#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "server/data/DocumentDatabase.h"
#include "server/data/ServerEventListener.h"
#include "server/data/UserDatabase.h"
#include "server/net/ServerRunner.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using server::CUserInfo;
using server::DocumentDatabase;
using server::ServerEvent;
using server::ServerEventListener;
using server::ServerRunner;
using server::UserDatabase;

// Records every event as (code, first parameter), from any thread.
class RecordingListener final : public ServerEventListener {
 public:
  void OnServerEvent(const ServerEvent& event) override EXCLUDES(mu_);
  std::vector<std::pair<int, std::string>> Events() const EXCLUDES(mu_);
  void Clear() EXCLUDES(mu_);
  bool Saw(int code, const std::string& param) const;

 private:
  mutable Mutex mu_;
  std::vector<std::pair<int, std::string>> events_ GUARDED_BY(mu_);
};

// A client connection of a test: line in, reply out.
class TestClient {
 public:
  // Connects to 127.0.0.1:|port|; Connected() tells whether it worked.
  explicit TestClient(uint16_t port);
  bool Connected() const { return connected_; }
  bool Send(const std::string& bytes) { return SendAll(socket_.Fd(), bytes); }
  // The next reply line, or nothing when the server closed the connection (5 s at most).
  std::optional<std::string> Reply() { return reader_.ReadLine(); }
  std::optional<std::string> Ask(const std::string& request) {
    if (!Send(request + "\n")) return std::nullopt;
    return Reply();
  }
  // True when the server has closed the connection.
  bool ClosedByServer();
  void Close() { socket_.Close(); }

 private:
  Socket socket_;
  bool connected_ = false;
  LineReader reader_;
};

// A member of the multicast group on the loopback; receives whole datagrams.
class GroupMember {
 public:
  GroupMember(const std::string& group, uint16_t port);
  // The next datagram, or nothing within |timeoutMs|; its sender's address in |sender| if given.
  std::optional<std::string> Receive(int timeoutMs = 5000, Ipv4Endpoint* sender = nullptr);

 private:
  Socket socket_;
};

// A server runner over databases in a temporary folder, with a recording listener and no
// Fcast component unless a test gives a factory.
class ServerFixture : public testing::Test {
 protected:
  static constexpr uint16_t kTcpPort = kDefaultTcpPort;  // where the runner listens

  explicit ServerFixture(ServerRunner::FcastSenderFactory factory = [] {
    return std::shared_ptr<FcastSender>();
  });
  ~ServerFixture() override;

  void AddUser(const std::string& login, const std::string& password, int banned = 0,
               const std::string& name = "Ann", const std::string& lastName = "Smith");
  void AddDocument(const std::string& fileName, const std::string& owner,
                   const std::string& path = "/srv/media/file");
  ServerRunner::Settings DefaultSettings() const { return ServerRunner::Settings{}; }
  // Starts the runner for a client in this same namespace: the announcer's own socket stays off
  // the port the client listens on, files go in 3 rounds at |fcastRate| kbit/s. Returns once
  // the listener takes connections.
  void StartForLocalClient(int fcastRate = 16000);
  // A copy of the user's record, read under the server data lock.
  std::optional<CUserInfo> User(const std::string& login);

  TempDir dir_;
  UserDatabase users_;
  DocumentDatabase documents_;
  RecordingListener listener_;
  ServerRunner runner_;
};

}  // namespace ondavox::test
