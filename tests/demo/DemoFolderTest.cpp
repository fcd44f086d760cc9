// The demo folder: what ondavox-demo-setup writes is what the server document loads and what
// the client's settings read, the samples are well-formed files, and preparing again keeps
// what is there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "client/core/ClientConfig.h"
#include "server/app/COndavoxDoc.h"
#include "server/net/ServerDataAccess.h"
#include "tests/support/TempDir.h"
#include "tools/demo/DemoFolder.h"
#include "tools/demo/DemoSamples.h"

namespace ondavox::test {

using namespace ondavox::server;
using namespace ondavox::client;
namespace {

namespace fs = std::filesystem;

uint32_t LittleEndian(const std::string& bytes, std::size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  }
  return value;
}

class DemoFolderTest : public testing::Test {
 protected:
  DemoFolderTest() : folder_(dir_.path() / "demo") {}

  // The server document made in the demo's server folder, as the server programs make it.
  std::unique_ptr<COndavoxDoc> LoadServer() {
    auto document = std::make_unique<COndavoxDoc>(folder_.serverDirectory().string(), nullptr);
    const Status loaded = document->Load();
    EXPECT_TRUE(loaded.ok()) << loaded.message();
    return document;
  }

  TempDir dir_;
  DemoFolder folder_;
};

TEST_F(DemoFolderTest, TheServerLoadsTheDemoUserAndTheSampleDocuments) {
  ASSERT_TRUE(folder_.Prepare("10.77.0.1").ok());
  auto server = LoadServer();
  const fs::path upload = server->config().documentPath;
  EXPECT_EQ(upload, folder_.serverDirectory() / "upload/");
  EXPECT_EQ(server->config().Port, 1550);

  ServerDataAccess access(server->runner());
  const CUserInfo* user = server->users().Find(DemoFolder::kLogin);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->password(), DemoFolder::kPassword);
  EXPECT_EQ(user->banned(), 0);
  EXPECT_EQ(server->users().GetCount(), 1u);
  int documents = 0;
  server->documents().GetStore().ForEach([&](const CDocInfo&) { ++documents; });
  EXPECT_EQ(documents, 3);
  for (const DemoSample& sample : MakeDemoSamples()) {
    const CDocInfo* document =
        server->documents().Find(CDocInfo::MakeKey(DemoFolder::kOwner, sample.fileName));
    ASSERT_NE(document, nullptr) << sample.fileName;
    EXPECT_EQ(document->path(), (upload / sample.fileName).string());
    EXPECT_EQ(document->mimeType(), sample.mimeType);
    EXPECT_FALSE(document->description().empty());
    EXPECT_EQ(ReadFile(document->path()), sample.bytes) << sample.fileName;
  }
}

TEST_F(DemoFolderTest, TheClientIsSetToMeetTheServerAsTheDemoUser) {
  ASSERT_TRUE(folder_.Prepare("10.77.0.1").ok());
  const ClientConfig client((folder_.clientDirectory() / "client.ini").string());
  EXPECT_EQ(client.serverIP, "10.77.0.1");
  EXPECT_EQ(client.serverPort, 1550);
  EXPECT_EQ(client.serverMulticastPort, 2001);
  EXPECT_EQ(client.serverGroup, "230.0.0.1");
  EXPECT_EQ(client.login, DemoFolder::kLogin);
  EXPECT_EQ(client.pass, DemoFolder::kPassword);
  EXPECT_EQ(client.downloadDirectory, (folder_.clientDirectory() / "download").string() + "/");
  EXPECT_TRUE(fs::is_directory(client.downloadDirectory));
}

TEST_F(DemoFolderTest, PreparingAgainKeepsSettingsUsersAndDocumentsAndFollowsTheServerPorts) {
  ASSERT_TRUE(folder_.Prepare("10.77.0.1").ok());
  {
    auto server = LoadServer();
    server->config().Port = 1600;
    server->config().MulticastIP = "230.0.0.9";
    ASSERT_TRUE(server->SaveSettings());
    ServerDataAccess access(server->runner());
    auto user = std::make_unique<CUserInfo>("ann", "pw", "Ann", "Smith", 0, 0, "", 0);
    ASSERT_TRUE(server->users().Add(user));
    server->users().Find(DemoFolder::kLogin)->SetPassword("changed");
    auto document = std::make_unique<CDocInfo>("mine.txt", "root", "/tmp/mine.txt", "unknown", 0, 1,
                                               "added by hand");
    ASSERT_TRUE(server->documents().Add(document));
    ASSERT_TRUE(server->users().Save().ok());
    ASSERT_TRUE(server->documents().Save().ok());
  }
  ASSERT_TRUE(folder_.Prepare("10.77.0.5").ok());

  auto server = LoadServer();
  EXPECT_EQ(server->config().Port, 1600);
  ServerDataAccess access(server->runner());
  EXPECT_EQ(server->users().GetCount(), 2u);
  EXPECT_EQ(server->users().Find(DemoFolder::kLogin)->password(), "changed");
  int documents = 0;
  server->documents().GetStore().ForEach([&](const CDocInfo&) { ++documents; });
  EXPECT_EQ(documents, 4);
  EXPECT_NE(server->documents().Find("rootmine.txt"), nullptr);

  const ClientConfig client((folder_.clientDirectory() / "client.ini").string());
  EXPECT_EQ(client.serverIP, "10.77.0.5");
  EXPECT_EQ(client.serverPort, 1600);
  EXPECT_EQ(client.serverGroup, "230.0.0.9");
}

TEST_F(DemoFolderTest, ADatabaseThatDoesNotLoadIsReportedAndLeftAsItWas) {
  fs::create_directories(folder_.serverDirectory());
  WriteFile(folder_.serverDirectory() / "DocumentDB.dat", "\x05");
  const Status status = folder_.Prepare("10.77.0.1");
  EXPECT_EQ(status.code(), Status::Code::kFormatError);
  EXPECT_NE(status.message().find("DocumentDB.dat"), std::string::npos) << status.message();
  EXPECT_EQ(ReadFile(folder_.serverDirectory() / "DocumentDB.dat"), "\x05");
  EXPECT_FALSE(fs::exists(folder_.serverDirectory() / "UserDB.dat"));
  EXPECT_FALSE(fs::exists(folder_.clientDirectory() / "client.ini"));
}

TEST(DemoSamples, AreWellFormedFilesOfTheirTypes) {
  for (const DemoSample& sample : MakeDemoSamples()) {
    const std::string& bytes = sample.bytes;
    if (sample.fileName.ends_with(".wav")) {
      ASSERT_GE(bytes.size(), 44u);
      EXPECT_EQ(bytes.substr(0, 4), "RIFF");
      EXPECT_EQ(LittleEndian(bytes, 4, 4), bytes.size() - 8);
      EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
      const uint32_t rate = LittleEndian(bytes, 24, 4);
      const uint32_t frameBytes = LittleEndian(bytes, 32, 2);
      EXPECT_EQ(LittleEndian(bytes, 28, 4), rate * frameBytes);
      EXPECT_EQ(bytes.substr(36, 4), "data");
      EXPECT_EQ(LittleEndian(bytes, 40, 4), bytes.size() - 44);
      EXPECT_EQ((bytes.size() - 44) % frameBytes, 0u);
    } else if (sample.fileName.ends_with(".ppm")) {
      int width = 0, height = 0, maximum = 0, header = 0;
      ASSERT_EQ(std::sscanf(bytes.c_str(), "P6\n%d %d\n%d\n%n", &width, &height, &maximum, &header),
                3);
      EXPECT_EQ(maximum, 255);
      EXPECT_EQ(bytes.size(), static_cast<std::size_t>(header + width * height * 3));
    } else {
      EXPECT_EQ(sample.mimeType, "text/plain");
      EXPECT_EQ(bytes.back(), '\n');
    }
  }
}

}  // namespace
}  // namespace ondavox::test
