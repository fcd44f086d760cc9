#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/fcast_net/FcastLab.h"
#include "tests/lab/NetworkLab.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

// The headless programs on a network lab of four hosts: ondavoxd on host 0 in the lab's
// "server" folder, administered with ondavoxctl, and ondavox-recv clients on the other hosts,
// each with a folder of its own. Made and used by the test's thread.
class HeadlessLab : public testing::Test {
 protected:
  using json = nlohmann::json;
  static constexpr int kServerHost = 0;
  // Seconds on an idle machine; this much only when it is very busy.
  static constexpr auto kTransferTime = std::chrono::seconds(150);

  void SetUp() override {
    std::string error;
    lab_ = lab::NetworkLab::Create(4, &error);
    ASSERT_NE(lab_, nullptr) << error;
    server_ = lab_->Folder() / "server";
    std::filesystem::create_directories(server_);
    // A sending rate the namespaces carry easily, so the files take seconds.
    WriteFile(server_ / "server.ini", "[Fcast]\nFcastRound=3\nFcastRate=24000\n");
  }

  // A file of |size| bytes to broadcast, in the lab's folder.
  void AddFile(const std::string& name, std::size_t size) {
    WriteFile(lab_->Folder() / name, fcast_net::PatternBytes(size, static_cast<uint32_t>(size)));
    files_.push_back(name);
  }
  // ondavoxd on the server's host, in the server's folder (it reads server.ini there), once it
  // answers on its administration socket.
  std::unique_ptr<lab::HostProcess> StartServer() {
    std::string error;
    std::unique_ptr<lab::HostProcess> server =
        lab_->Start(kServerHost, {"env", "-C", server_.string(), ONDAVOXD}, &error);
    EXPECT_NE(server, nullptr) << error;
    EXPECT_TRUE(
        WaitFor([&] { return Status().value("running", false); }, std::chrono::seconds(20)));
    return server;
  }

  // ondavoxctl ARGS on the server's host; its standard output, and its exit code in |code|.
  std::string Ctl(std::vector<std::string> args, int* code = nullptr) {
    args.insert(args.begin(), {ONDAVOXCTL, "--socket", (server_ / "ondavox.sock").string()});
    const lab::CommandResult result = lab_->Run(kServerHost, args);
    if (code != nullptr) *code = result.exit_code;
    return result.output;
  }
  // The status reply; an empty object while the server does not answer.
  json Status() {
    json status = json::parse(Ctl({"--json", "status"}), nullptr, false);
    return status.is_object() ? status : json::object();
  }

  // A client folder for |login| on |host|: client.ini and its download folder.
  std::filesystem::path ClientFolder(int host, const std::string& login) {
    const std::filesystem::path folder = lab_->Folder() / ("client" + std::to_string(host));
    std::filesystem::create_directories(folder / "download");
    WriteFile(folder / "client.ini",
              "[Server]\nserverIP=" + lab::NetworkLab::Address(kServerHost) +
                  "\nserverPort=1550\nserverMulticastPort=2001\nserverGroup=230.0.0.1\n"
                  "downloadDirectory=" +
                  (folder / "download").string() + "\n[User]\nlogin=" + login + "\npass=pw-" +
                  login + "\n");
    return folder;
  }
  std::unique_ptr<lab::HostProcess> StartClient(int host, const std::filesystem::path& folder,
                                                std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {ONDAVOX_RECV, "--no-open", "--config",
                                     (folder / "client.ini").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::string error;
    std::unique_ptr<lab::HostProcess> client = lab_->Start(host, argv, &error);
    EXPECT_NE(client, nullptr) << error;
    return client;
  }
  // The file of the transfer under way; empty when there is none.
  std::string TransferFile() {
    const json transfer = Status().value("transfer", json());
    return transfer.is_object() ? transfer.value("file", "") : "";
  }
  // Waits until |count| users are online.
  bool Online(std::size_t count) {
    return WaitFor([&] { return Status().value("online", json::array()).size() == count; },
                   std::chrono::seconds(20));
  }
  bool Received(const std::filesystem::path& folder) { return Received(folder, files_); }
  bool Received(const std::filesystem::path& folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      if (ReadFile(folder / "download" / name) != ReadFile(lab_->Folder() / name)) return false;
    }
    return true;
  }

  std::unique_ptr<lab::NetworkLab> lab_;
  std::filesystem::path server_;
  std::vector<std::string> files_;
};

}  // namespace ondavox::test
