// The main job without any window, on a network lab: ondavoxd on host 0, ondavox-recv on hosts
// 1 and 2 (host 2 losing a tenth of what reaches it), everything administered with ondavoxctl.
// Then the faults a client must live through: lost transfer announcements, a server killed
// under it.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"
#include "tests/e2e/HeadlessLab.h"
#include "tests/server/app/FakeFcastSender.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

namespace fs = std::filesystem;

constexpr int kLossyHost = 2;

class HeadlessTest : public HeadlessLab {};

TEST_F(HeadlessTest, ServerAndClientsRunTheMainJobAdministeredFromTheCommandLine) {
  AddFile("clip.avi", 700 * 1024 + 13);
  AddFile("notes.txt", 1500);
  std::unique_ptr<lab::HostProcess> server = StartServer();
  ASSERT_TRUE(server != nullptr && Status().value("running", false));
  std::string error;

  // A user added with the tool logs in at once; another registers itself.
  int code = -1;
  Ctl({"user", "add", "ann", "--password", "pw-ann", "--name", "Ann"}, &code);
  EXPECT_EQ(code, 0);
  const fs::path annFolder = ClientFolder(1, "ann");
  const fs::path bobFolder = ClientFolder(kLossyHost, "bob");
  std::unique_ptr<lab::HostProcess> ann = StartClient(1, annFolder);
  std::unique_ptr<lab::HostProcess> bob =
      StartClient(kLossyHost, bobFolder, {"--register", "--name", "Bob", "--last-name", "Brown"});
  ASSERT_TRUE(Online(2)) << ann->Output() << bob->Output();
  ASSERT_TRUE(lab_->SetLoss(kLossyHost, 100, &error)) << error;

  for (const std::string& name : files_) {
    Ctl({"doc", "add", (lab_->Folder() / name).string(), "--description", "About " + name}, &code);
    EXPECT_EQ(code, 0) << name;
    Ctl({"enqueue", name}, &code);
    EXPECT_EQ(code, 0) << name;
  }
  // The status shows the transfer while it runs (the first file lasts about a second).
  EXPECT_TRUE(WaitFor([&] { return TransferFile() == "clip.avi"; }, std::chrono::seconds(20)));

  EXPECT_TRUE(WaitFor([&] { return Received(annFolder) && Received(bobFolder); }, kTransferTime))
      << ann->Output() << bob->Output();

  for (lab::HostProcess* client : {ann.get(), bob.get()}) {
    client->Signal(SIGTERM);
    EXPECT_EQ(client->Wait(std::chrono::seconds(20)), 0) << client->Output();
  }
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(std::chrono::seconds(20)), 0) << server->Errors();
  EXPECT_NE(server->Output().find("Server stopped."), std::string::npos);

  // Both databases hold what the tool changed.
  COndavoxDoc saved(server_.string(), FactoryOf(std::make_shared<FakeFcastSender>()));
  ASSERT_TRUE(saved.Load().ok());
  ServerDataAccess access(saved.runner());
  ASSERT_NE(saved.users().Find("ann"), nullptr);
  EXPECT_EQ(saved.users().Find("ann")->name(), "Ann");
  EXPECT_NE(saved.users().Find("bob"), nullptr);
  for (const std::string& name : files_) {
    EXPECT_NE(saved.documents().Find(CDocInfo::MakeKey("root", name)), nullptr) << name;
  }
}

// Who holds what, as the receipts of three clients tell it: one client is offline for one file
// and one joins while a transfer is under way.
TEST_F(HeadlessTest, DeliveriesListExactlyWhoHoldsEachDocument) {
  for (int k = 0; k < 20; ++k) AddFile("doc" + std::to_string(k) + ".bin", 20000 + 977 * k);
  // The transfer a late client joins: long enough to start its receiver in the middle.
  WriteFile(lab_->Folder() / "doc6.bin", fcast_net::PatternBytes(6 << 20, 6));
  std::unique_ptr<lab::HostProcess> server = StartServer();
  ASSERT_TRUE(server != nullptr && Status().value("running", false));
  for (const std::string login : {"ann", "bob", "cat"}) {
    Ctl({"user", "add", login, "--password", "pw-" + login});
  }
  for (const std::string& name : files_) {
    Ctl({"doc", "add", (lab_->Folder() / name).string(), "--description", name});
  }
  const fs::path folders[] = {ClientFolder(1, "ann"), ClientFolder(2, "bob"),
                              ClientFolder(3, "cat")};
  // The holders of each file, as ondavoxctl deliveries lists them, sorted.
  const auto holders = [&] {
    std::map<std::string, std::set<std::string>> held;
    const json reply = json::parse(Ctl({"--json", "deliveries"}), nullptr, false);
    if (!reply.is_object()) return held;
    for (const json& delivery : reply.value("deliveries", json::array())) {
      std::set<std::string>& logins = held[delivery.value("file", "")];
      for (const json& holder : delivery["holders"]) logins.insert(holder.value("login", ""));
    }
    return held;
  };
  const auto enqueue = [&](int first, int last) {
    for (int k = first; k <= last; ++k) Ctl({"enqueue", files_[k]});
  };
  const auto heldBy = [&](int k, const std::set<std::string>& logins) {
    return WaitFor([&] { return holders()[files_[k]] == logins; }, kTransferTime);
  };

  std::unique_ptr<lab::HostProcess> ann = StartClient(1, folders[0]);
  std::unique_ptr<lab::HostProcess> bob = StartClient(2, folders[1]);
  ASSERT_TRUE(Online(2));
  enqueue(0, 4);
  for (int k = 0; k <= 4; ++k) ASSERT_TRUE(heldBy(k, {"ann", "bob"})) << files_[k];

  // bob is away while doc5 is sent.
  bob->Signal(SIGTERM);
  ASSERT_EQ(bob->Wait(std::chrono::seconds(20)), 0);
  enqueue(5, 5);
  ASSERT_TRUE(heldBy(5, {"ann"}));
  // Its later rounds would still reach a client that logs in now.
  ASSERT_TRUE(WaitFor([&] { return TransferFile().empty(); }, std::chrono::seconds(30)));

  // bob is back; cat logs in while doc6 is on its way and still gets it.
  bob = StartClient(2, folders[1]);
  enqueue(6, 6);
  ASSERT_TRUE(WaitFor([&] { return TransferFile() == "doc6.bin"; }, std::chrono::seconds(30)));
  std::unique_ptr<lab::HostProcess> cat = StartClient(3, folders[2]);
  ASSERT_TRUE(heldBy(6, {"ann", "bob", "cat"})) << cat->Output();

  enqueue(7, 19);
  for (int k = 7; k <= 19; ++k) {
    ASSERT_TRUE(heldBy(k, {"ann", "bob", "cat"}))
        << files_[k] << "\nann:\n" << ann->Output() << "\nbob:\n" << bob->Output() << "\ncat:\n"
        << cat->Output();
  }
  const std::map<std::string, std::set<std::string>> held = holders();
  EXPECT_EQ(held.size(), 20U);
  EXPECT_EQ(held.at("doc5.bin"), (std::set<std::string>{"ann"}));
  EXPECT_EQ(held.at("doc0.bin"), (std::set<std::string>{"ann", "bob"}));
  // Every holder has the file as it was sent.
  EXPECT_TRUE(Received(folders[2], {files_.begin() + 6, files_.end()}));
  // doc5 is held by ann alone; bob and cat are online without it.
  const json deliveries = json::parse(Ctl({"--json", "deliveries"}));
  for (const json& delivery : deliveries["deliveries"]) {
    if (delivery["file"] != "doc5.bin") continue;
    EXPECT_EQ(delivery["onlineWithout"], json({"bob", "cat"}));
  }
}

TEST_F(HeadlessTest, AClientThatLosesAnnouncementsStillReceivesEveryFile) {
  // The first file lasts a few seconds, so it is announced again while it is sent; the others
  // take a poll of a second each.
  WriteFile(server_ / "server.ini", "[Fcast]\nFcastRound=3\nFcastRate=8000\n");
  for (int k = 0; k < 10; ++k) {
    AddFile("file" + std::to_string(k) + ".bin", k == 0 ? 1024 * 1024 + 3 : 20 * 1024 * k + 7);
  }
  std::unique_ptr<lab::HostProcess> server = StartServer();
  ASSERT_NE(server, nullptr);
  int code = -1;
  Ctl({"user", "add", "ann", "--password", "pw-ann"}, &code);
  ASSERT_EQ(code, 0);
  const fs::path folder = ClientFolder(1, "ann");
  std::unique_ptr<lab::HostProcess> ann = StartClient(1, folder);
  ASSERT_TRUE(Online(1)) << ann->Output();
  // Among them the first one: without a repeat, the receiver would start only with the
  // second file.
  std::string error;
  ASSERT_TRUE(lab_->DropEveryOther(1, 2001, "FCAST\t", &error)) << error;

  for (const std::string& name : files_) {
    Ctl({"doc", "add", (lab_->Folder() / name).string(), "--description", name}, &code);
    EXPECT_EQ(code, 0) << name;
    Ctl({"enqueue", name}, &code);
    EXPECT_EQ(code, 0) << name;
  }
  EXPECT_TRUE(WaitFor([&] { return Received(folder); }, kTransferTime)) << ann->Output();
  const std::string output = ann->Output();
  for (const char* line : {"[FCAST] Init OK", "[FCAST] Start OK"}) {
    const std::size_t first = output.find(line);
    EXPECT_NE(first, std::string::npos) << line;
    EXPECT_EQ(output.find(line, first + 1), std::string::npos) << line << " twice in\n" << output;
  }
}

TEST_F(HeadlessTest, AConnectedClientSeesTheServerKilledAtOnce) {
  std::unique_ptr<lab::HostProcess> server = StartServer();
  ASSERT_NE(server, nullptr);
  int code = -1;
  Ctl({"user", "add", "ann", "--password", "pw-ann"}, &code);
  ASSERT_EQ(code, 0);
  std::unique_ptr<lab::HostProcess> ann = StartClient(1, ClientFolder(1, "ann"));
  ASSERT_TRUE(Online(1)) << ann->Output();

  server->Kill();  // SIGKILL: nothing is announced, the connection simply ends
  const auto shown = [&](const std::string& line) {
    return ann->Output().find(line) != std::string::npos;
  };
  EXPECT_TRUE(
      WaitFor([&] { return shown("[TCP] You've been disconnected"); }, std::chrono::seconds(2)))
      << ann->Output();
  EXPECT_TRUE(shown("[UDP] You've been disconnected")) << ann->Output();
  EXPECT_EQ(ann->Wait(std::chrono::seconds(20)), 1) << ann->Output();
  EXPECT_TRUE(
      shown("[ERROR] The session was closed: login or register refused, or the server lost"))
      << ann->Output();
}

}  // namespace
}  // namespace ondavox::test
