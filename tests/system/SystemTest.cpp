// The whole system on a network lab: the server document on host 0 and three client programs
// on hosts 1 to 3, host 3 losing a tenth of what reaches it. Users register and log in, three
// documents are broadcast to every client and opened with the associated programs, the
// clients ask about users and files, one client drops, and the server stops with both
// database files holding the session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/core/ClientCommands.h"
#include "common/MavoraProtocol.h"
#include "common/ReplyCodes.h"
#include "platform/Mutex.h"
#include "platform/Trace.h"
#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/fcast_net/FcastLab.h"
#include "tests/lab/NetworkLab.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
using namespace ondavox::client;
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;  // a playlist as "document/owner" texts

constexpr int kServerHost = 0;
constexpr int kLossyHost = 3;
constexpr int kLossPerMille = 100;
constexpr char kServerAddress[] = "10.77.0.1";  // NetworkLab::Address(kServerHost)
// The three transfers take seconds; this much only on a machine that is very busy.
constexpr auto kTransferTime = std::chrono::seconds(150);

// The server's log lines, from any thread.
class RecordingServerLog final : public ServerLog {
 public:
  void AppendLog(std::string_view line) override EXCLUDES(mu_) {
    MutexLock lock(mu_);
    lines_.emplace_back(line);
  }
  int Count(const std::string& line) const EXCLUDES(mu_) {
    MutexLock lock(mu_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
  }
  std::string Text() const EXCLUDES(mu_) {
    MutexLock lock(mu_);
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  mutable Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
};

// A document of the session: its record and its bytes.
struct Document {
  std::string fileName;
  std::string description;
  int streamable = 0;
  std::string opener;  // the program the clients associate with its extension
  std::string bytes;
  std::string sha256;
};

// The program a client associates with some extension: it records its own name, the digest
// of the file it was given and the file's path in "opened.txt" of the client's folder (its
// current directory).
void WriteOpener(const fs::path& path) {
  WriteFile(path,
            "#!/bin/sh\n"
            "digest=$(sha256sum < \"$1\" | cut -d' ' -f1)\n"
            "printf '%s %s %s\\n' \"$(basename \"$0\")\" \"$digest\" \"$1\" >> opened.txt\n");
  fs::permissions(path, fs::perms::owner_all);
}

// One client program (tests/system/SystemTestClient.cpp) on a lab host: its folder with
// client.ini, the pipe that carries its user's commands, and what it showed.
class ClientHost {
 public:
  ClientHost(lab::NetworkLab& lab, int host, std::string login,
             const std::vector<Document>& documents)
      : host_(host),
        login_(std::move(login)),
        folder_(lab.Folder() / ("client" + std::to_string(host))) {
    fs::create_directories(folder_);
    std::string ini = std::string("[Server]\nserverIP=") + kServerAddress +
                      "\nserverPort=1550\nserverMulticastPort=2001\nserverGroup=230.0.0.1\n"
                      "downloadDirectory=" +
                      Download().string() + "\n[User]\nlogin=" + login_ + "\npass=" + Password() +
                      "\n[Fileasso]\nnbext=" + std::to_string(documents.size()) + "\n";
    for (std::size_t k = 0; k < documents.size(); ++k) {
      const std::string n = std::to_string(k + 1);
      ini += "ext" + n + "=" + fs::path(documents[k].fileName).extension().string() + "\n";
      ini += "exe" + n + "=" + (lab.Folder() / documents[k].opener).string() + "\n";
    }
    WriteFile(folder_ / "client.ini", ini);
    const fs::path pipe = folder_ / "commands";
    EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Read and write, so the pipe takes commands before the program has opened it.
    pipe_ = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(pipe_, 0);
    std::string error;
    process_ = lab.Start(host, {SYSTEM_TEST_CLIENT, folder_.string(), FCAST_LIBRARY, pipe.string()},
                         &error);
    EXPECT_NE(process_, nullptr) << error;
  }
  ~ClientHost() {
    process_.reset();
    if (pipe_ >= 0) ::close(pipe_);
  }

  std::string Password() const { return "pw-" + login_; }
  fs::path Download() const { return folder_ / "download"; }
  std::string Name() const { return "client " + login_ + " on host " + std::to_string(host_); }

  // Connects as the Connect command does.
  void Connect() { Command("CONNECT"); }
  // Hands a command to the session, as the window's commands do.
  void Send(const MavoraProtocol::Fields& command) {
    Command(MavoraProtocol().joinParams(command));
  }

  // The log box lines without their "hh:mm:ss > " stamp.
  std::vector<std::string> Log() const { return Shown("LOG ", true); }
  int Count(const std::string& body) const {
    const std::vector<std::string> log = Log();
    return static_cast<int>(std::count(log.begin(), log.end(), body));
  }
  // Waits until the log holds |body| |times| times.
  bool WaitForLog(const std::string& body, int times = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    return WaitFor([&] { return Count(body) >= times; }, timeout);
  }
  // Each text the Infos box showed, \r, \n and \t as they were.
  std::vector<std::string> Infos() const {
    std::vector<std::string> texts;
    for (const std::string& escaped : Shown("INFOS ", false)) texts.push_back(Unescape(escaped));
    return texts;
  }
  // Each playlist the list showed.
  std::vector<Rows> Playlists() const {
    std::vector<Rows> playlists;
    for (const std::string& line : Shown("PLAYLIST", false)) {
      std::vector<std::string> fields = MavoraProtocol().extractParams(line);
      Rows rows;
      // Field 0 is what stood between the word and the first TAB: nothing.
      for (std::size_t i = 1; i + 1 < fields.size(); i += 2)
        rows.push_back(fields[i] + "/" + fields[i + 1]);
      playlists.push_back(rows);
    }
    return playlists;
  }
  // The lines the opening programs recorded: "<program> <sha256> <path>".
  std::vector<std::string> Opened() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(folder_ / "opened.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Output() const { return process_ ? process_->Output() + process_->Errors() : ""; }

  // Asks for the playlist until the list shows |rows| (the announcement may be lost).
  bool AskPlaylistUntil(const Rows& rows) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      if (!Playlists().empty() && Playlists().back() == rows) return true;
      const int replies = Count(TcpLine(kPlaylistAnnounced));
      Send({"PLAYLIST"});
      if (!WaitForLog(TcpLine(kPlaylistAnnounced), replies + 1)) return false;
      WaitFor([&] { return !Playlists().empty() && Playlists().back() == rows; },
              std::chrono::seconds(1));
    }
    return !Playlists().empty() && Playlists().back() == rows;
  }

  // Ends the program the hard way: no LOGOUT, its connection simply goes.
  void Kill() { process_->Kill(); }

 private:
  void Command(const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(::write(pipe_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // The program's output lines that start with |prefix|, without it (nor the log's stamp).
  std::vector<std::string> Shown(const std::string& prefix, bool stamped) const {
    std::vector<std::string> lines;
    std::istringstream in(process_ ? process_->Output() : "");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) != 0) continue;
      line.erase(0, prefix.size());
      const std::size_t stamp = line.find(" > ");
      if (stamped && stamp != std::string::npos) line.erase(0, stamp + 3);
      lines.push_back(line);
    }
    return lines;
  }
  static std::string Unescape(const std::string& escaped) {
    std::string text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      if (escaped[i] != '\\' || i + 1 == escaped.size()) {
        text += escaped[i];
        continue;
      }
      const char c = escaped[++i];
      text += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return text;
  }

  const int host_;
  const std::string login_;
  const fs::path folder_;
  int pipe_ = -1;
  std::unique_ptr<lab::HostProcess> process_;
};

// The reply texts as the server words them, with the client's line breaks for "%#".
std::string WhoisText(const std::string& login, const std::string& name,
                      const std::string& lastName, bool online, const std::string& address) {
  return "Login : \t\t" + login + "\r\nName : \t\t" + name + "\r\nLastname : \t" + lastName +
         "\r\nStatus : \t\t" + (online ? "Online" : "Offline") +
         "\r\nBanned : \t\tNo\r\nIP : \t\t" + address + "\r\n";
}
std::string FileinfoText(const Document& document) {
  return "Filename :\t" + document.fileName +
         "\r\nOwner :\t\troot\r\nMimeType :\tunknown\r\nDescription :\t" + document.description +
         "\r\nStreamable : \t" + (document.streamable ? "Yes" : "No");
}

// The playlists shown, from the first one that lists every document, with repeats removed.
std::vector<Rows> FromFullPlaylist(const std::vector<Rows>& shown, std::size_t documents) {
  auto full = std::find_if(shown.begin(), shown.end(),
                           [&](const Rows& rows) { return rows.size() == documents; });
  std::vector<Rows> steps;
  for (auto it = full; it != shown.end(); ++it) {
    if (steps.empty() || steps.back() != *it) steps.push_back(*it);
  }
  return steps;
}

class SystemTest : public testing::Test {
 protected:
  void SetUp() override {
    // The server's trace lines would bury the test's own report.
    SetTraceSink([](std::string_view) {});
    std::string error;
    lab_ = lab::NetworkLab::Create(4, &error);
    ASSERT_NE(lab_, nullptr) << error;
    serverFolder_ = lab_->Folder() / "server";
    fs::create_directories(serverFolder_ / "upload");
    // A sending rate the namespaces carry easily, so the three files take seconds.
    WriteFile(serverFolder_ / "server.ini",
              "[Server]\npath=" + serverFolder_.string() +
                  "\nclientDatabase=" + (serverFolder_ / "UserDB.dat").string() +
                  "\ndocumentDatabase=" + (serverFolder_ / "DocumentDB.dat").string() +
                  "\ndocumentPath=" + (serverFolder_ / "upload").string() +
                  "/\n[TCP]\nPort=1550\n[UDP]\nMulticastPort=2001\nMulticastIP=230.0.0.1\n"
                  "[Fcast]\nFcastRound=3\nFcastIP=230.0.0.2\nFcastPort=1711\nFcastRate=24000\n");
    documents_ = {{"holiday.avi", "Summer holiday, first day", 1, "play-video", {}, {}},
                  {"concert.mp3", "The whole concert", 0, "play-audio", {}, {}},
                  {"manual.pdf", "How to use the system", 0, "show-document", {}, {}}};
    const std::uint64_t sizes[] = {300 * 1024 + 17, 1024 * 1024 + 5, 2 * 1024 * 1024 + 301};
    for (std::size_t k = 0; k < documents_.size(); ++k) {
      documents_[k].bytes = fcast_net::PatternBytes(sizes[k], static_cast<std::uint32_t>(k + 11));
      documents_[k].sha256 = fcast_net::Sha256Hex(documents_[k].bytes);
      WriteFile(Upload(documents_[k]), documents_[k].bytes);
      WriteOpener(lab_->Folder() / documents_[k].opener);
    }

    document_ = std::make_unique<COndavoxDoc>(
        serverFolder_.string(),
        FcastSenderThread::ComponentFactory([](const std::string& text) { ADD_FAILURE() << text; },
                                            {FCAST_LIBRARY}));
    ASSERT_TRUE(document_->Load().ok());
    document_->SetLog(&serverLog_);
    // Threads inherit the network namespace of the thread that makes them: the server's
    // workers are started from a thread inside host 0.
    bool started = false;
    ASSERT_TRUE(lab_->Host(kServerHost).RunInside([&] { started = document_->Start().ok(); }));
    ASSERT_TRUE(started);

    for (int host = 1; host <= 3; ++host) {
      clients_.push_back(std::make_unique<ClientHost>(*lab_, host, kLogins[host - 1], documents_));
    }
  }
  void TearDown() override {
    clients_.clear();
    if (document_) document_->SetLog(nullptr);
    document_.reset();
    SetTraceSink({});
  }

  fs::path Upload(const Document& document) const {
    return serverFolder_ / "upload" / document.fileName;
  }
  std::string Trace() const {
    std::string text = "server log:\n" + serverLog_.Text();
    for (const auto& client : clients_) text += client->Name() + ":\n" + client->Output();
    return text;
  }
  bool Online(const std::string& login) {
    ServerDataAccess access(document_->runner());
    const CUserInfo* user = document_->users().Find(login);
    return user != nullptr && user->online() != 0;
  }
  // Shows every client the playlist |rows| and returns once each list shows it.
  void ExpectPlaylistEverywhere(const Rows& rows) {
    for (const auto& client : clients_) {
      EXPECT_TRUE(client->AskPlaylistUntil(rows)) << client->Name() << "\n" << Trace();
    }
  }
  Rows AllRows(std::size_t from) const {
    Rows rows;
    for (std::size_t k = from; k < documents_.size(); ++k)
      rows.push_back(documents_[k].fileName + "/root");
    return rows;
  }
  ClientHost& Client(int host) { return *clients_.at(static_cast<std::size_t>(host - 1)); }

  static constexpr const char* kLogins[] = {"ann", "bob", "cid"};
  static constexpr const char* kNames[] = {"Ann", "Bob", "Cid"};
  static constexpr const char* kLastNames[] = {"Smith", "Brown", "Lee"};

  std::unique_ptr<lab::NetworkLab> lab_;
  fs::path serverFolder_;
  std::vector<Document> documents_;
  RecordingServerLog serverLog_;
  std::unique_ptr<COndavoxDoc> document_;
  std::vector<std::unique_ptr<ClientHost>> clients_;
};

TEST_F(SystemTest, ThreeClientsReceiveEveryDocumentAndTheServerKeepsTheSession) {
  // Every user registers, which logs them in; cid then logs out and in again.
  for (int k = 0; k < 3; ++k) {
    ClientHost& client = *clients_[static_cast<std::size_t>(k)];
    client.Connect();
    ASSERT_TRUE(client.WaitForLog("[INFO] You are connected")) << Trace();
    client.Send(ClientCommands::Register(kLogins[k], client.Password(), kNames[k], kLastNames[k]));
    ASSERT_TRUE(client.WaitForLog(TcpLine(kRegistered))) << Trace();
  }
  ClientHost& cid = Client(3);
  cid.Send(ClientCommands::Logout("cid"));
  ASSERT_TRUE(cid.WaitForLog("[TCP] You've been disconnected")) << Trace();
  EXPECT_TRUE(WaitFor([&] { return serverLog_.Count("cid has logged out.") == 1; }));
  EXPECT_FALSE(Online("cid"));
  cid.Connect();
  ASSERT_TRUE(cid.WaitForLog("[INFO] You are connected", 2)) << Trace();
  cid.Send(ClientCommands::Login("cid", cid.Password()));
  ASSERT_TRUE(cid.WaitForLog(TcpLine(kLoginAccepted))) << Trace();
  for (const char* login : kLogins) {
    EXPECT_TRUE(Online(login)) << login;
    const std::string added = std::string("A new client was added to the database : ") + login;
    EXPECT_TRUE(WaitFor([&] { return serverLog_.Count(added) == 1; })) << serverLog_.Text();
  }
  EXPECT_TRUE(WaitFor([&] { return serverLog_.Count("New client logged : cid") == 2; }));
  // Every listener hears the announcements before anything is broadcast.
  ExpectPlaylistEverywhere({});

  // The operator registers the three documents and enqueues them, as the dialogs do.
  {
    ServerDataAccess access(document_->runner());
    for (const Document& document : documents_) {
      auto record =
          std::make_unique<CDocInfo>(document.fileName, "root", Upload(document).string(),
                                     "unknown", document.streamable, 0, document.description);
      ASSERT_TRUE(document_->documents().Add(record));
    }
  }
  for (const Document& document : documents_) {
    ServerDataAccess access(document_->runner());
    document_->GetPlaylist().AddTail(
        *document_->documents().Find(CDocInfo::MakeKey("root", document.fileName)));
  }
  document_->runner().SendPlaylist();
  for (const auto& client : clients_) {
    EXPECT_TRUE(WaitFor([&] {
      return !client->Playlists().empty() && client->Playlists().back() == AllRows(0);
    })) << client->Name()
        << "\n"
        << Trace();
  }
  document_->runner().WakeFcastSender();

  // Host 3 loses a tenth of its packets from the moment its receiver runs: the loss is on the
  // transfers themselves, not on the announcement that starts the receiver.
  for (const auto& client : clients_) {
    ASSERT_TRUE(client->WaitForLog("[FCAST] Start OK")) << client->Name() << "\n" << Trace();
  }
  std::string error;
  ASSERT_TRUE(lab_->SetLoss(kLossyHost, kLossPerMille, &error)) << error;

  // Once the server has sent the last file nothing more arrives: the clients then only finish
  // writing and opening what they received.
  ASSERT_TRUE(WaitFor([&] { return document_->GetPlaylist().GetCount() == 0; }, kTransferTime))
      << Trace();
  for (const auto& client : clients_) {
    EXPECT_TRUE(WaitFor([&] { return client->Opened().size() >= documents_.size(); },
                        std::chrono::seconds(20)))
        << client->Name() << "\n"
        << Trace();
  }
  EXPECT_TRUE(WaitFor([&] { return serverLog_.Count("The playlist has been updated.") == 3; }));

  for (const auto& client : clients_) {
    SCOPED_TRACE(client->Name());
    std::vector<std::string> opened;
    std::error_code ignored;
    for (const Document& document : documents_) {
      const fs::path received = client->Download() / document.fileName;
      EXPECT_EQ(fcast_net::Sha256HexOfFile(received), document.sha256) << received;
      EXPECT_EQ(fs::file_size(received, ignored), document.bytes.size()) << received;
      EXPECT_EQ(client->Count("[EXEC] " + received.string()), 1);
      opened.push_back(document.opener + " " + document.sha256 + " " + received.string());
    }
    std::vector<std::string> recorded = client->Opened();
    std::sort(recorded.begin(), recorded.end());
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(recorded, opened);
    EXPECT_EQ(fcast_net::FolderEntries(client->Download()).size(), documents_.size());
  }

  // The clients without loss hear the playlist shrink after each file; the one with loss
  // hears some of those steps, in order, and the last.
  const std::vector<Rows> steps = {AllRows(0), AllRows(1), AllRows(2), AllRows(3)};
  for (int host : {1, 2}) {
    EXPECT_EQ(FromFullPlaylist(Client(host).Playlists(), documents_.size()), steps)
        << Client(host).Name();
  }
  ASSERT_TRUE(Client(kLossyHost).AskPlaylistUntil({})) << Trace();
  const std::vector<Rows> heard =
      FromFullPlaylist(Client(kLossyHost).Playlists(), documents_.size());
  EXPECT_TRUE(std::includes(steps.begin(), steps.end(), heard.begin(), heard.end(),
                            [](const Rows& a, const Rows& b) { return a.size() > b.size(); }));
  EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [&](const Rows& rows) {
    return std::find(steps.begin(), steps.end(), rows) != steps.end();
  }));

  // WHOIS and FILEINFO, from the client with loss too.
  ClientHost& ann = Client(1);
  ann.Send(ClientCommands::Whois("bob"));
  EXPECT_TRUE(WaitFor([&] { return ann.Infos().size() == 1; }));
  cid.Send(ClientCommands::FileInfo(documents_[0].fileName, "root"));
  EXPECT_TRUE(WaitFor([&] { return cid.Infos().size() == 1; }));
  cid.Send(ClientCommands::FileInfo(documents_[1].fileName, "root"));
  EXPECT_TRUE(WaitFor([&] { return cid.Infos().size() == 2; }));
  cid.Send(ClientCommands::FileInfo(documents_[1].fileName, "ann"));
  EXPECT_TRUE(cid.WaitForLog(TcpLine(kUnknownDocument)));
  EXPECT_EQ(ann.Infos(), std::vector<std::string>{
                             WhoisText("bob", "Bob", "Brown", true, lab::NetworkLab::Address(2))});
  EXPECT_EQ(cid.Infos(),
            (std::vector<std::string>{FileinfoText(documents_[0]), FileinfoText(documents_[1])}));

  // bob's program goes without a word: the server logs bob out.
  Client(2).Kill();
  EXPECT_TRUE(WaitFor([&] { return serverLog_.Count("bob has logged out.") == 1; })) << Trace();
  EXPECT_FALSE(Online("bob"));
  ann.Send(ClientCommands::Whois("bob"));
  EXPECT_TRUE(WaitFor([&] { return ann.Infos().size() == 2; }));
  EXPECT_EQ(ann.Infos().back(),
            WhoisText("bob", "Bob", "Brown", false, lab::NetworkLab::Address(2)));
  EXPECT_TRUE(Online("ann"));
  EXPECT_TRUE(Online("cid"));

  // The server stops: a client still connected finds its session ended, and both files hold
  // the three users (all offline) and the three documents.
  ASSERT_TRUE(document_->Stop().ok());
  ann.Send(ClientCommands::Whois("cid"));
  EXPECT_TRUE(ann.WaitForLog("[TCP] You've been disconnected")) << Trace();
  EXPECT_EQ(ann.Infos().size(), 2u);
  UserDatabase users((serverFolder_ / "UserDB.dat").string());
  ASSERT_TRUE(users.Load().ok());
  std::vector<std::string> offline;
  users.ListLoginsByStatus(offline, 0);
  EXPECT_EQ(offline.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const CUserInfo* user = users.Find(kLogins[k]);
    ASSERT_NE(user, nullptr) << kLogins[k];
    EXPECT_EQ(*user, CUserInfo(kLogins[k], "pw-" + std::string(kLogins[k]), kNames[k],
                               kLastNames[k], 0, 0, lab::NetworkLab::Address(k + 1), 666));
  }
  DocumentDatabase documents((serverFolder_ / "DocumentDB.dat").string());
  ASSERT_TRUE(documents.Load().ok());
  std::vector<CDocInfo> stored;
  documents.GetStore().ForEach([&](const CDocInfo& record) { stored.push_back(record); });
  std::vector<CDocInfo> expected;
  for (const Document& document : documents_) {
    expected.emplace_back(document.fileName, "root", Upload(document).string(), "unknown",
                          document.streamable, 0, document.description);
  }
  EXPECT_EQ(stored, expected);
}

}  // namespace
}  // namespace ondavox::test
