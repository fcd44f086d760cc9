#include "tests/client/ClientTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <regex>

#include "common/LineReader.h"
#include "common/PublicKeyText.h"
#include "platform/Ipv4Endpoint.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::client;

RecordingLogBox::RecordingLogBox() { ClientLog::Process().SetLogBox(this); }

RecordingLogBox::~RecordingLogBox() { ClientLog::Process().SetLogBox(nullptr); }

void RecordingLogBox::AppendLine(const std::string& line) {
  MutexLock lock(mu_);
  lines_.push_back(line);
}

std::vector<std::string> RecordingLogBox::Lines() const {
  MutexLock lock(mu_);
  return lines_;
}

bool RecordingLogBox::InOrder(const std::vector<std::string>& expected) const {
  const std::vector<std::string> bodies = Bodies();
  auto at = bodies.begin();
  for (const std::string& line : expected) {
    at = std::find(at, bodies.end(), line);
    if (at == bodies.end()) return false;
    ++at;
  }
  return true;
}

std::vector<std::string> RecordingLogBox::Bodies() const {
  static const std::regex kStamp("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] > ");
  std::vector<std::string> bodies;
  for (const std::string& line : Lines()) {
    std::smatch match;
    bodies.push_back(std::regex_search(line, match, kStamp) ? match.suffix().str()
                                                            : "<no time stamp> " + line);
  }
  return bodies;
}

int RecordingLogBox::Count(const std::string& body) const {
  int count = 0;
  for (const std::string& line : Bodies()) count += line == body;
  return count;
}

bool RecordingLogBox::WaitForLine(const std::string& body) const {
  return WaitFor([&] { return Count(body) > 0; });
}

void RecordingView::SetText(const std::string& text) {
  MutexLock lock(mu_);
  infos_ = text;
}

void RecordingView::ReplaceRows(const std::vector<PlaylistRow>& rows) {
  MutexLock lock(mu_);
  rows_ = rows;
}

std::optional<std::string> RecordingView::Infos() const {
  MutexLock lock(mu_);
  return infos_;
}

std::optional<std::vector<PlaylistRow>> RecordingView::Rows() const {
  MutexLock lock(mu_);
  return rows_;
}

bool RecordingLauncher::Launch(const std::string& program, const std::vector<std::string>& args) {
  MutexLock lock(mu_);
  launches_.push_back({program, args});
  return true;
}

bool RecordingLauncher::OpenWithDesktop(const std::string& path) {
  MutexLock lock(mu_);
  launches_.push_back({"open", {path}});
  return true;
}

std::vector<RecordingLauncher::Started> RecordingLauncher::Launches() const {
  MutexLock lock(mu_);
  return launches_;
}

long FakeReceiverObject::Start() {
  MutexLock lock(mu_);
  calls_.push_back("Start");
  return kFcastOk;
}

long FakeReceiverObject::SetTrustedKey(const std::vector<unsigned char>& publicKey) {
  MutexLock lock(mu_);
  calls_.push_back("SetTrustedKey " + (publicKey.empty() ? "" : EncodePublicKey(publicKey)));
  return kFcastOk;
}

long FakeReceiverObject::SetSource(const std::string& address) {
  MutexLock lock(mu_);
  calls_.push_back("SetSource " + address);
  return kFcastOk;
}

long FakeReceiverObject::Init(const std::string& group, long port, const std::string& folder) {
  MutexLock lock(mu_);
  calls_.push_back("Init " + group + " " + std::to_string(port) + " " + folder);
  return failInit_ ? kFcastFail : kFcastOk;
}

long FakeReceiverObject::GetEvent(long timeLimitMs, long* code, long* error, long* fileId,
                                  long* size, std::string* name, short* unused) {
  MutexLock lock(mu_);
  if (!cv_.WaitFor(mu_, std::chrono::milliseconds(timeLimitMs),
                   [this]() REQUIRES(mu_) { return !events_.empty(); })) {
    ++timeouts_;
    return kFcastTimeout;
  }
  const Event event = events_.front();
  events_.pop_front();
  cv_.NotifyAll();
  *code = event.code;
  *error = event.error;
  *fileId = event.fileId;
  *size = event.size;
  *name = event.name;
  *unused = 0;
  return event.result;
}

long FakeReceiverObject::GetStatistics(long* fileId, std::string* name, long* size,
                                       long* symbolsHeld, long* symbolsNeeded) {
  MutexLock lock(mu_);
  if (fileId != nullptr) *fileId = progress_.fileId;
  if (name != nullptr) *name = progress_.name;
  if (size != nullptr) *size = progress_.size;
  if (symbolsHeld != nullptr) *symbolsHeld = progress_.symbolsHeld;
  if (symbolsNeeded != nullptr) *symbolsNeeded = progress_.symbolsNeeded;
  return kFcastOk;
}

void FakeReceiverObject::SetProgress(Progress progress) {
  MutexLock lock(mu_);
  progress_ = std::move(progress);
}

void FakeReceiverObject::Push(Event event) {
  {
    MutexLock lock(mu_);
    events_.push_back(std::move(event));
  }
  cv_.NotifyAll();
}

void FakeReceiverObject::FailInit(bool fail) {
  MutexLock lock(mu_);
  failInit_ = fail;
}

std::vector<std::string> FakeReceiverObject::Calls() const {
  MutexLock lock(mu_);
  return calls_;
}

int FakeReceiverObject::Timeouts() const {
  MutexLock lock(mu_);
  return timeouts_;
}

bool FakeReceiverObject::Drained() const {
  MutexLock lock(mu_);
  return events_.empty();
}

namespace {

int BoundPort(int fd) {
  const std::optional<Ipv4Endpoint> local = Ipv4Endpoint::LocalOf(fd);
  return local ? local->Port() : 0;
}

}  // namespace

ScriptedServer::ScriptedServer(Reply reply, bool closeAtOnce)
    : reply_(std::move(reply)), closeAtOnce_(closeAtOnce), listener_(Socket::Tcp()) {
  const Ipv4Endpoint address = Ipv4Endpoint::Loopback(0);
  if (::bind(listener_.Fd(), address.Get(), Ipv4Endpoint::Size()) != 0 ||
      ::listen(listener_.Fd(), 8) != 0) {
    ADD_FAILURE() << "scripted server cannot listen";
  }
  port_ = BoundPort(listener_.Fd());
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  {
    MutexLock lock(mu_);
    stop_ = true;
    if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
  }
  listener_.Shutdown();
  thread_.join();
}

void ScriptedServer::Serve() {
  for (;;) {
    Socket connection(::accept(listener_.Fd(), nullptr, nullptr));
    {
      MutexLock lock(mu_);
      if (stop_) return;
      if (!connection.Valid()) continue;
      if (closeAtOnce_) continue;
      connection_ = connection.Fd();
    }
    LineReader reader = LineReader::ForSocket(connection.Fd());
    for (;;) {
      std::optional<std::string> line = reader.ReadLine();
      if (!line) {
        ++ended_;
        break;
      }
      {
        MutexLock lock(mu_);
        lines_.push_back(*line);
      }
      std::optional<std::string> answer = reply_(*line);
      if (!answer) break;
      SendAll(connection.Fd(), *answer);
    }
    MutexLock lock(mu_);
    connection_ = -1;
  }
}

std::vector<std::string> ScriptedServer::Lines() const {
  MutexLock lock(mu_);
  return lines_;
}

bool ScriptedServer::WaitForLines(std::size_t count) const {
  return WaitFor([&] { return Lines().size() >= count; });
}

AnnouncementSender::AnnouncementSender(const std::string& from) : socket_(Socket::Udp()) {
  if (const std::optional<Ipv4Endpoint> source = Ipv4Endpoint::Parse(from, 0)) {
    if (::bind(socket_.Fd(), source->Get(), Ipv4Endpoint::Size()) != 0) {
      ADD_FAILURE() << "cannot send from " << from;
    }
  }
  // The loopback only, whatever the routes say; announcements never pass a router.
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  ::setsockopt(socket_.Fd(), IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
  const int ttl = 1;
  ::setsockopt(socket_.Fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
}

void AnnouncementSender::Send(const std::string& group, int port, const std::string& bytes) {
  const std::optional<Ipv4Endpoint> destination =
      Ipv4Endpoint::FromLegacyText(group, static_cast<uint16_t>(port));
  if (!destination) return;
  ::sendto(socket_.Fd(), bytes.data(), bytes.size(), 0, destination->Get(), Ipv4Endpoint::Size());
}

int UnusedTcpPort() {
  Socket probe = Socket::Tcp();
  const Ipv4Endpoint address = Ipv4Endpoint::Loopback(0);
  ::bind(probe.Fd(), address.Get(), Ipv4Endpoint::Size());
  return BoundPort(probe.Fd());  // closed again: nothing listens there
}

}  // namespace ondavox::test
