// A hostile host beside the server and its clients, on the same network: its announcements and
// its files change nothing at any client, and a client that pinned the server's key refuses
// the files of a server whose key was replaced.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "fcast/engine/Ed25519.h"
#include "platform/Ipv4Endpoint.h"
#include "tests/e2e/HeadlessLab.h"
#include "tests/fcast_net/Forger.h"

namespace ondavox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kHostileHost = 3;

class TrustTest : public HeadlessLab {
 protected:
  // ondavoxd with the users ann and bob, and ann's client on host 1 once it is online.
  void StartServerAndAnn() {
    server_process_ = StartServer();
    ASSERT_NE(server_process_, nullptr);
    for (const std::string login : {"ann", "bob"}) Ctl({"user", "add", login, "--password", "pw-" + login});
    ann_folder_ = ClientFolder(1, "ann");
    ann_ = StartClient(1, ann_folder_);
    ASSERT_TRUE(Online(1)) << ann_->Output();
  }
  // The server's public key as ondavoxctl prints it.
  std::string ServerKey() { return json::parse(Ctl({"--json", "key"})).value("key", ""); }
  // The key ann's client.ini holds.
  std::string PinnedKey(const fs::path& folder) {
    const std::string ini = ReadFile(folder / "client.ini");
    const std::size_t at = ini.find("serverKey=");
    if (at == std::string::npos) return "";
    const std::size_t start = at + 10;
    return ini.substr(start, ini.find_first_of("\r\n", start) - start);
  }
  void Enqueue(const std::string& name) {
    Ctl({"doc", "add", (lab_->Folder() / name).string(), "--description", name});
    Ctl({"enqueue", name});
  }
  // Waits until the named files arrived at |folder| as they were sent, and were opened.
  bool ReceivedAndOpened(lab::HostProcess& client, const fs::path& folder,
                         const std::vector<std::string>& names) {
    return WaitFor(
        [&] {
          if (!Received(folder, names)) return false;
          for (const std::string& name : names) {
            if (client.Output().find("[EXEC] " + (folder / "download" / name).string()) ==
                std::string::npos) {
              return false;
            }
          }
          return true;
        },
        kTransferTime);
  }
  // Sends one text datagram to the announcement group from the hostile host.
  void Announce(const std::string& text) {
    Socket socket = lab_->OpenUdpSocket(kHostileHost);
    const Ipv4Endpoint group = *Ipv4Endpoint::Parse("230.0.0.1", 2001);
    ::sendto(socket.Fd(), text.data(), text.size(), 0, group.Get(), Ipv4Endpoint::Size());
  }
  // Runs fcast-send on the hostile host with |file| on the server's Fcast group, to its end.
  void ForgeTransfer(const std::string& name, std::vector<std::string> extra = {}) {
    WriteFile(lab_->Folder() / name, "#!/bin/sh\necho owned\n");
    std::vector<std::string> argv = {ONDAVOX_FCAST_SEND, "--group", "230.0.0.2", "--port", "1711",
                                     "--rate", "2000", "--rounds", "2"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back((lab_->Folder() / name).string());
    const lab::CommandResult sent = lab_->Run(kHostileHost, argv, 30s);
    EXPECT_EQ(sent.exit_code, 0) << sent.output;
  }
  // True when nothing in ann's download folder or log tells of |name|, beyond the refusal.
  void ExpectRefused(const std::string& name) {
    EXPECT_FALSE(fs::exists(ann_folder_ / "download" / name)) << name;
    const std::string output = ann_->Output();
    EXPECT_EQ(output.find("[EXEC] " + (ann_folder_ / "download" / name).string()), std::string::npos);
    EXPECT_NE(output.find("Refused " + name), std::string::npos) << name << " in\n" << output;
  }

  std::unique_ptr<lab::HostProcess> server_process_;
  std::unique_ptr<lab::HostProcess> ann_;
  fs::path ann_folder_;
};

TEST_F(TrustTest, ForgedAnnouncementsChangeNothing) {
  AddFile("real.bin", 300 * 1024 + 5);
  StartServerAndAnn();
  const fs::path bob_folder = ClientFolder(2, "bob");
  std::unique_ptr<lab::HostProcess> bob = StartClient(2, bob_folder);
  ASSERT_TRUE(Online(2)) << bob->Output();

  // A transfer announced on a group of the hostile host's own, then the end of every session.
  std::unique_ptr<lab::HostProcess> forger;
  {
    WriteFile(lab_->Folder() / "forged.sh", "#!/bin/sh\necho owned\n");
    std::string error;
    forger = lab_->Start(kHostileHost,
                         {ONDAVOX_FCAST_SEND, "--group", "230.0.0.9", "--port", "1799", "--rate",
                          "2000", "--rounds", "20", (lab_->Folder() / "forged.sh").string()},
                         &error);
    ASSERT_NE(forger, nullptr) << error;
  }
  for (int k = 0; k < 3; ++k) {
    Announce("FCAST\t230.0.0.9\t1799");
    Announce("LOGOUT");
    std::this_thread::sleep_for(200ms);
  }
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(Online(2));
  for (lab::HostProcess* client : {ann_.get(), bob.get()}) {
    const std::string output = client->Output();
    EXPECT_EQ(output.find("Init OK"), std::string::npos) << output;
    const std::string stray = lab::NetworkLab::Address(kHostileHost);
    const std::size_t first = output.find(stray);
    EXPECT_NE(first, std::string::npos) << output;
    EXPECT_EQ(output.find(stray, first + 1), std::string::npos) << "one line per source\n" << output;
  }

  // The server's own transfer still reaches both.
  Enqueue("real.bin");
  EXPECT_TRUE(ReceivedAndOpened(*ann_, ann_folder_, {"real.bin"})) << ann_->Output();
  EXPECT_TRUE(ReceivedAndOpened(*bob, bob_folder, {"real.bin"})) << bob->Output();
  EXPECT_FALSE(fs::exists(ann_folder_ / "download" / "forged.sh"));
  EXPECT_FALSE(fs::exists(bob_folder / "download" / "forged.sh"));
  forger->Kill();
}

TEST_F(TrustTest, FilesForgedOnTheServersGroupAreNeverStoredNorOpened) {
  AddFile("first.bin", 200 * 1024 + 1);
  AddFile("next.bin", 200 * 1024 + 2);
  StartServerAndAnn();
  ASSERT_TRUE(WaitFor([&] { return !PinnedKey(ann_folder_).empty(); }, 10s)) << ann_->Output();
  EXPECT_EQ(PinnedKey(ann_folder_), ServerKey());
  // ann's receiver runs on the server's group.
  Enqueue("first.bin");
  ASSERT_TRUE(ReceivedAndOpened(*ann_, ann_folder_, {"first.bin"})) << ann_->Output();

  // The hostile host sends as if it were the server.
  std::string error;
  ASSERT_TRUE(lab_->SpoofSource(kHostileHost, lab::NetworkLab::Address(kServerHost), &error))
      << error;
  {
    fcast_net::Forger forger(*lab_, kHostileHost);
    for (int pass = 0; pass < 20; ++pass) {
      for (const auto& datagram :
           fcast_net::Forger::OldVersionTransfer(0x0ff1ce, "old-version.sh", "#!/bin/sh\n")) {
        forger.Send(datagram);
      }
    }
  }
  ForgeTransfer("unsigned.sh");
  const fs::path other_key = lab_->Folder() / "other.key";
  WriteFile(other_key, fcast::Ed25519Key::Generate()->Pem());
  ForgeTransfer("other-key.sh", {"--key", other_key.string()});

  // The server's next file still arrives and opens.
  Enqueue("next.bin");
  EXPECT_TRUE(ReceivedAndOpened(*ann_, ann_folder_, {"next.bin"})) << ann_->Output();
  EXPECT_FALSE(fs::exists(ann_folder_ / "download" / "old-version.sh"));
  ExpectRefused("unsigned.sh");
  ExpectRefused("other-key.sh");
  // Nothing half-written stays behind.
  for (const fs::directory_entry& entry : fs::directory_iterator(ann_folder_ / "download")) {
    EXPECT_TRUE(entry.path().filename() == "first.bin" || entry.path().filename() == "next.bin")
        << entry.path();
  }
}

TEST_F(TrustTest, AfterTheServersKeyIsReplacedItsFilesAreRefused) {
  AddFile("after.bin", 100 * 1024 + 7);
  StartServerAndAnn();
  ASSERT_TRUE(WaitFor([&] { return !PinnedKey(ann_folder_).empty(); }, 10s)) << ann_->Output();
  const std::string pinned = PinnedKey(ann_folder_);
  EXPECT_EQ(pinned, ServerKey());

  // The server comes back with a new key.
  ann_->Signal(SIGTERM);
  ASSERT_EQ(ann_->Wait(20s), 0) << ann_->Output();
  server_process_->Signal(SIGTERM);
  ASSERT_EQ(server_process_->Wait(20s), 0) << server_process_->Errors();
  fs::remove(server_ / "server.key");
  fs::remove(server_ / "server.pub");
  server_process_ = StartServer();
  ASSERT_NE(ServerKey(), pinned);
  ann_ = StartClient(1, ann_folder_);
  ASSERT_TRUE(Online(1)) << ann_->Output();

  Enqueue("after.bin");
  ASSERT_TRUE(WaitFor([&] { return ann_->Output().find("Refused after.bin") != std::string::npos; },
                      kTransferTime))
      << ann_->Output();
  ExpectRefused("after.bin");
  EXPECT_EQ(PinnedKey(ann_folder_), pinned) << "a different key is never stored";
}

}  // namespace
}  // namespace ondavox::test
