#include "server/net/FcastSenderThread.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "platform/Trace.h"

namespace ondavox::server {
namespace {

// How often the transfer under way is checked and announced again.
constexpr std::chrono::milliseconds kPollInterval(1000);

// The rounds the component sizes each file's repair data for; when a file is done is decided
// by the configured rounds (Settings::fcastRound), not by this.
constexpr long kPlannedRounds = 5;

std::string Format(const char* format, long long a, long long b, long long c, long long d) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

}  // namespace

FcastSenderThread::SenderFactory FcastSenderThread::ComponentFactory(
    FcastMessageHook message, std::vector<std::string> candidates) {
  return [message = std::move(message),
          candidates = std::move(candidates)]() -> std::shared_ptr<FcastSender> {
    auto object =
        std::make_shared<FcastObject<FcastSender>>(CreateFcastSender(message, candidates));
    if (!*object) return nullptr;
    // Shares ownership of the object with the library reference that keeps its code loaded.
    return std::shared_ptr<FcastSender>(object, object->get());
  };
}

FcastSenderThread::FcastSenderThread(FcastSenderHost& host, Settings settings,
                                     std::shared_ptr<FcastSender> sender)
    : host_(host), settings_(std::move(settings)), sender_(std::move(sender)) {
  DebugOut(sender_ ? "CoCreateInstance Send OK\n" : "CoCreateInstance Send KO\n");
}

FcastSenderThread::~FcastSenderThread() { Close(); }

void FcastSenderThread::Resume() { thread_ = std::thread(&FcastSenderThread::Run, this); }

void FcastSenderThread::Close() {
  if (stopping_.exchange(true)) return;
  if (sender_) sender_->Stop();
  wake_.Signal();
  if (thread_.joinable()) thread_.join();
}

void FcastSenderThread::DelayNextTransfer(std::chrono::milliseconds delay) {
  notBefore_ = (std::chrono::steady_clock::now() + delay).time_since_epoch().count();
}

std::optional<FcastSenderThread::Progress> FcastSenderThread::progress() const {
  MutexLock lock(progressMu_);
  return progress_;
}

void FcastSenderThread::Report(std::optional<Progress> progress) {
  MutexLock lock(progressMu_);
  progress_ = std::move(progress);
}

bool FcastSenderThread::Pause(std::chrono::milliseconds timeout) {
  if (stopping_.load()) return false;
  wake_.WaitFor(timeout);
  return !stopping_.load();
}

void FcastSenderThread::Run() {
  if (!sender_) {
    // Nothing can be sent without the component: the playlist is left as the operator made it.
    host_.PostEvent(ServerEvent(LOG_FAILURE, {"FCAST: the Fcast component is not available; "
                                              "the playlist will not be broadcast"}));
    while (Pause(std::chrono::hours(1))) {
    }
    return;
  }
  // Both hold from the first Init on.
  if (sender_->SetSigningKey(settings_.signingSeed) < 0) {
    host_.PostEvent(ServerEvent(LOG_FAILURE, {"FCAST: the server's key was refused; the files "
                                              "will be sent unsigned"}));
  }
  if (sender_->SetInterface(settings_.interfaceAddress) < 0) {
    host_.PostEvent(ServerEvent(
        LOG_FAILURE, {"FCAST: the interface " + settings_.interfaceAddress + " was refused"}));
  }
  while (!stopping_.load()) {
    Playlist& playlist = host_.playlist();
    DebugOut("playlist size = " + std::to_string(playlist.GetCount()) + "\n");
    if (playlist.GetCount() < 1) {
      Pause(std::chrono::seconds(1));
      continue;
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const std::chrono::steady_clock::duration wait(notBefore_.load() - now.count());
    if (wait.count() > 0) {
      Pause(std::chrono::ceil<std::chrono::milliseconds>(wait));
      continue;
    }
    host_.SendFCAST();
    const long rate = static_cast<long>(settings_.fcastRate) * 1024 / 8;
    const long init = sender_->Init(settings_.fcastIP, settings_.fcastPort, kPlannedRounds, rate);
    DebugOut(init < 0 ? "Init Fcast KO\n" : "Init Fcast OK\n");

    const std::optional<CDocInfo> head = playlist.GetHead();
    if (!head) continue;
    if (Send(*head)) {
      if (stopping_.load()) return;  // abandoned: the entry stays at the head
      Remove(*head);
    } else {
      Remove(*head);
      host_.PostEvent(ServerEvent(LOG_FAILURE, {"FCAST: the file " + head->path() +
                                                " could not be sent; it was removed from the "
                                                "playlist"}));
    }
    host_.PostEvent(ServerEvent(PLAYLIST_UPDATED));
  }
}

bool FcastSenderThread::Send(const CDocInfo& entry) {
  struct stat st {};
  std::ifstream probe(entry.path(), std::ios::binary);
  if (!probe || ::stat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    DebugOut("FcastSendThread incorrect file size.\n");
    return false;
  }
  probe.close();
  const long long size = st.st_size;
  host_.deliveries().TransferStarted(entry, size);
  if (sender_->SendFile(entry.path()) < 0) {
    host_.deliveries().TransferAbandoned(entry);
    DebugOut("FcastSenderThread Start failed\n");
    return false;
  }
  DebugOut("FcastThread Start OK\n");
  Progress progress{entry, size};
  progress.rounds = settings_.fcastRound;
  Report(progress);
  const long long target = size / 1024 * settings_.fcastRound;
  for (bool first = true;; first = false) {
    if (!AwaitPoll(first)) break;
    long st_units = 0;
    long sr = 0;
    long rounds = 0;
    long bytes = 0;
    sender_->GetStatistics(&st_units, &sr, nullptr, &rounds, &bytes);
    progress.bytesSent = bytes;
    progress.round = rounds + 1;
    Report(progress);
    DebugOut(
        Format("FileSize = %lld, tpts<%lld>, sr<%lld>, st<%lld> \n", size, target, sr, st_units));
    if (static_cast<unsigned long>(st_units) >= static_cast<unsigned long long>(target)) {
      sender_->Stop();
      DebugOut("FcastThread Stop\n");
      break;
    }
    // Announced again while the file is sent: a client that lost the first announcement
    // starts its receiver now and joins the carousel late.
    host_.SendFCAST();
  }
  Report(std::nullopt);
  return true;
}

bool FcastSenderThread::AwaitPoll(bool first) {
  if (!first) return Pause(kPollInterval);
  // A file done at the first poll would be announced only once, and a client that lost that
  // one datagram would miss the whole file: the first second announces it every quarter.
  for (int quarter = 1; quarter < 4; ++quarter) {
    if (!Pause(kPollInterval / 4)) return false;
    host_.SendFCAST();
  }
  return Pause(kPollInterval / 4);
}

void FcastSenderThread::Remove(const CDocInfo& entry) {
  Playlist& playlist = host_.playlist();
  // The operator may have reordered the playlist meanwhile: remove the entry that was sent,
  // not whatever stands first now.
  for (int i = 0; i < playlist.GetCount(); ++i) {
    const std::optional<CDocInfo> candidate = playlist.GetAt(i);
    if (candidate && *candidate == entry) {
      playlist.RemoveAt(i);
      return;
    }
  }
}

}  // namespace ondavox::server
