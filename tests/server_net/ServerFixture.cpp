#include "tests/server_net/ServerFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "platform/Ipv4Endpoint.h"
#include "server/net/ServerDataAccess.h"

namespace ondavox::test {

using namespace ondavox::server;

void RecordingListener::OnServerEvent(const ServerEvent& event) {
  MutexLock lock(mu_);
  events_.emplace_back(event.GetType(), event.GetParam(0));
}

std::vector<std::pair<int, std::string>> RecordingListener::Events() const {
  MutexLock lock(mu_);
  return events_;
}

void RecordingListener::Clear() {
  MutexLock lock(mu_);
  events_.clear();
}

bool RecordingListener::Saw(int code, const std::string& param) const {
  for (const auto& event : Events()) {
    if (event.first == code && event.second == param) return true;
  }
  return false;
}

TestClient::TestClient(uint16_t port)
    : socket_(Socket::Tcp()), reader_(LineReader::ForSocket(socket_.Fd())) {
  const Ipv4Endpoint server = Ipv4Endpoint::Loopback(port);
  // The listener may still be setting up.
  for (int attempt = 0; attempt < 200 && !connected_; ++attempt) {
    connected_ = ::connect(socket_.Fd(), server.Get(), Ipv4Endpoint::Size()) == 0;
    if (!connected_) {
      socket_ = Socket::Tcp();
      reader_ = LineReader::ForSocket(socket_.Fd());
      ::poll(nullptr, 0, 10);
    }
  }
  timeval timeout{5, 0};
  ::setsockopt(socket_.Fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

bool TestClient::ClosedByServer() {
  char byte;
  return ::recv(socket_.Fd(), &byte, 1, 0) == 0;
}

GroupMember::GroupMember(const std::string& group, uint16_t port) : socket_(Socket::Udp()) {
  const int reuse = 1;  // several members of one test may listen on the port
  ::setsockopt(socket_.Fd(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  const Ipv4Endpoint local = Ipv4Endpoint::Parse(group, port).value_or(Ipv4Endpoint());
  EXPECT_EQ(::bind(socket_.Fd(), local.Get(), Ipv4Endpoint::Size()), 0);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = local.Address();
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(::setsockopt(socket_.Fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership),
            0);
}

std::optional<std::string> GroupMember::Receive(int timeoutMs, Ipv4Endpoint* sender) {
  pollfd ready{socket_.Fd(), POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) != 1) return std::nullopt;
  char buffer[65536];
  Ipv4Endpoint from;
  socklen_t size = Ipv4Endpoint::Size();
  const ssize_t n = ::recvfrom(socket_.Fd(), buffer, sizeof buffer, 0, from.Mutable(), &size);
  if (sender != nullptr) *sender = from;
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

ServerFixture::ServerFixture(ServerRunner::FcastSenderFactory factory)
    : users_(dir_.File("UserDB.dat")),
      documents_(dir_.File("DocumentDB.dat")),
      runner_(documents_, users_, std::move(factory)) {
  runner_.AddListener(&listener_);
}

void ServerFixture::StartForLocalClient(int fcastRate) {
  ServerRunner::Settings settings;
  settings.multicastBindPort = 2099;
  settings.fcastRound = 3;
  settings.fcastRate = fcastRate;
  runner_.Start(settings);
  // Start returns before the listener may be listening.
  ASSERT_TRUE(TestClient(kTcpPort).Connected());
}

ServerFixture::~ServerFixture() { runner_.Close(); }

std::optional<CUserInfo> ServerFixture::User(const std::string& login) {
  ServerDataAccess access(runner_);
  const CUserInfo* user = users_.Find(login);
  return user != nullptr ? std::optional<CUserInfo>(*user) : std::nullopt;
}

void ServerFixture::AddUser(const std::string& login, const std::string& password, int banned,
                            const std::string& name, const std::string& lastName) {
  ServerDataAccess access(runner_);
  auto user = std::make_unique<CUserInfo>(login, password, name, lastName, banned, 0, "", 0);
  ASSERT_TRUE(users_.Add(user));
}

void ServerFixture::AddDocument(const std::string& fileName, const std::string& owner,
                                const std::string& path) {
  ServerDataAccess access(runner_);
  auto document =
      std::make_unique<CDocInfo>(fileName, owner, path, "video/avi", 1, 0, "Holiday clip");
  ASSERT_TRUE(documents_.Add(document));
}

}  // namespace ondavox::test
