#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "client/core/ClientConfig.h"
#include "tests/support/TempDir.h"

namespace ondavox::client {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Positions of |keys| in |text|, which must all be there and in this order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& keys) {
  std::size_t last = 0;
  for (const std::string& key : keys) {
    const std::size_t at = text.find(key, last);
    ASSERT_NE(at, std::string::npos) << key << " missing or out of order in\n" << text;
    last = at + key.size();
  }
}

TEST(ClientConfig, FirstStartWritesEveryDefault) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  ClientConfig config(path);
  const std::string download = std::filesystem::current_path().string() + "/download/";

  EXPECT_EQ(config.serverIP, "127.0.0.1");
  EXPECT_EQ(config.serverPort, 1550);
  EXPECT_EQ(config.serverMulticastPort, 2001);
  EXPECT_EQ(config.serverGroup, "230.0.0.1") << "the server's announcement group";
  EXPECT_EQ(config.downloadDirectory, download);
  EXPECT_EQ(config.defaultDownloadDirectory, download);
  EXPECT_EQ(config.login, "brackenly");
  EXPECT_EQ(config.pass, "brackenly");
  EXPECT_EQ(config.nbext, 0);
  EXPECT_TRUE(config.associations.empty());
  EXPECT_FALSE(std::filesystem::exists(download)) << "the folder is made when a file comes";

  IniFile ini(path);
  EXPECT_EQ(ini.Read("Server", "serverIP"), "127.0.0.1");
  EXPECT_EQ(ini.Read("Server", "serverPort"), "1550");
  EXPECT_EQ(ini.Read("Server", "serverMulticastPort"), "2001");
  EXPECT_EQ(ini.Read("Server", "serverGroup"), "230.0.0.1");
  EXPECT_EQ(ini.Read("Server", "downloadDirectory"), download);
  EXPECT_EQ(ini.Read("User", "login"), "brackenly");
  EXPECT_EQ(ini.Read("User", "pass"), "brackenly");
  EXPECT_EQ(ini.Read("Fileasso", "nbext"), "0");
  ExpectInOrder(ReadFile(path),
                {"[Server]", "serverIP", "serverPort", "serverMulticastPort", "serverGroup",
                 "downloadDirectory", "[User]", "login", "pass", "[Fileasso]", "nbext"});
}

// client.ini holds the user's password: only its owner may read it, from its first write on, and
// a file an older client left readable is tightened at the next save.
TEST(ClientConfig, OnlyTheOwnerMayReadTheFile) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  const auto mode = [&] {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0U;
  };
  { ClientConfig first(path); }  // writes the defaults
  EXPECT_EQ(mode(), 0600U);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ClientConfig config(path);
  config.pass = "secret";
  config.Save();
  EXPECT_EQ(mode(), 0600U);
}

TEST(ClientConfig, NumbersReadLenientlyAndZeroTakesTheDefault) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  struct Case {
    std::string text;
    int port;
    int multicastPort;
  };
  for (const Case& c : std::vector<Case>{{"abc", 1550, 2001},
                                         {"0", 1550, 2001},
                                         {"1550x", 1550, 1550},
                                         {" 1600", 1600, 1600},
                                         {"", 1550, 2001}}) {
    WriteFile(path, "[Server]\nserverPort=" + c.text + "\nserverMulticastPort=" + c.text + "\n");
    ClientConfig config(path);
    EXPECT_EQ(config.serverPort, c.port) << c.text;
    EXPECT_EQ(config.serverMulticastPort, c.multicastPort) << c.text;
  }
}

// An empty group joins nothing and the first Connect fails: it takes the server's default.
TEST(ClientConfig, EmptyServerGroupTakesTheAnnouncementGroup) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  WriteFile(path, "[Server]\nserverGroup=\n");
  EXPECT_EQ(ClientConfig(path).serverGroup, "230.0.0.1");
}

TEST(ClientConfig, PresentSectionIsNotCompletedInTheFile) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  WriteFile(path, "[Server]\nserverGroup=230.0.0.1\n[User]\nlogin=ann\n");
  ClientConfig config(path);
  EXPECT_EQ(config.serverGroup, "230.0.0.1");
  EXPECT_EQ(config.serverIP, "127.0.0.1");
  EXPECT_EQ(config.login, "ann");
  EXPECT_EQ(config.pass, "brackenly");
  IniFile ini(path);
  EXPECT_EQ(ini.Read("Server", "serverIP"), "") << "defaults of a present section stay in memory";
  EXPECT_EQ(ini.Read("User", "pass"), "");
  EXPECT_EQ(ini.Read("Fileasso", "nbext"), "0") << "the missing section is written";
}

TEST(ClientConfig, AssociationsFollowNbext) {
  TempDir dir;
  const std::string path = dir.File("client.ini");

  // More announced than present: the missing pairs are empty.
  WriteFile(path, "[Fileasso]\nnbext=2\next1=mp3\nexe1=/usr/bin/player\n");
  {
    ClientConfig config(path);
    EXPECT_EQ(config.associations,
              (std::vector<FileAssociation>{{"mp3", "/usr/bin/player"}, {"", ""}}));
  }

  // A list shortened from three to one and saved: the old keys stay, the next start reads one.
  WriteFile(path, "[Fileasso]\nnbext=3\next1=a\nexe1=A\next2=b\nexe2=B\next3=c\nexe3=C\n");
  {
    ClientConfig config(path);
    ASSERT_EQ(config.associations.size(), 3u);
    config.associations.resize(1);
    config.Save();
  }
  IniFile ini(path);
  EXPECT_EQ(ini.Read("Fileasso", "nbext"), "1");
  EXPECT_EQ(ini.Read("Fileasso", "ext3"), "c");
  EXPECT_EQ(ini.Read("Fileasso", "exe2"), "B");
  ClientConfig reread(path);
  EXPECT_EQ(reread.associations, (std::vector<FileAssociation>{{"a", "A"}}));
  EXPECT_EQ(reread.nbext, 1);
}

TEST(ClientConfig, AbsurdNbextIsBoundedAndNegativeReadsAsNone) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  WriteFile(path, "[Fileasso]\nnbext=2000000000\next1=x\nexe1=X\n");
  ClientConfig big(path);
  EXPECT_EQ(big.associations.size(), static_cast<std::size_t>(ClientConfig::kMaxAssociations));
  EXPECT_EQ(big.associations.front(), (FileAssociation{"x", "X"}));

  WriteFile(path, "[Fileasso]\nnbext=-4\next1=x\nexe1=X\n");
  ClientConfig negative(path);
  EXPECT_TRUE(negative.associations.empty());
}

TEST(ClientConfig, SaveWritesEveryKeyAndLoadReadsItBack) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  {
    ClientConfig config(path);
    config.serverIP = "10.0.0.7";
    config.serverPort = 1600;
    config.serverMulticastPort = 2100;
    config.serverGroup = "230.0.0.9";
    config.downloadDirectory = "/srv/in/";
    config.login = "ann";
    config.pass = "secret";
    config.associations = {{"mp3", "/bin/play"}, {"txt", "/bin/view"}};
    config.Save();
  }
  ExpectInOrder(ReadFile(path), {"ext1", "exe1", "ext2", "exe2"});
  ClientConfig config(path);
  EXPECT_EQ(config.serverIP, "10.0.0.7");
  EXPECT_EQ(config.serverPort, 1600);
  EXPECT_EQ(config.serverMulticastPort, 2100);
  EXPECT_EQ(config.serverGroup, "230.0.0.9");
  EXPECT_EQ(config.downloadDirectory, "/srv/in/");
  EXPECT_EQ(config.login, "ann");
  EXPECT_EQ(config.pass, "secret");
  EXPECT_EQ(config.nbext, 2);
  EXPECT_EQ(config.associations,
            (std::vector<FileAssociation>{{"mp3", "/bin/play"}, {"txt", "/bin/view"}}));
}

// The pinned key is written at once, alone: Save neither clears it with the empty text the
// window loaded before the pin, nor writes the window's unsaved edits with it.
TEST(ClientConfig, ServerKeyIsWrittenOnlyByThePinAndReadBack) {
  TempDir dir;
  const std::string path = dir.File("client.ini");
  ClientConfig window(path);
  EXPECT_EQ(window.serverKey, "");
  EXPECT_EQ(IniFile(path).Read("Server", "serverKey"), "") << "written with the defaults";
  window.serverIP = "10.0.0.9";  // edited, not saved yet
  ASSERT_TRUE(window.PinWriter()("a2V5"));
  EXPECT_EQ(IniFile(path).Read("Server", "serverIP"), "127.0.0.1");
  window.Save();
  EXPECT_EQ(ClientConfig(path).serverKey, "a2V5");
  EXPECT_EQ(ClientConfig(path).serverIP, "10.0.0.9");

  // An older file, [Server] without the key: loading adds nothing, the key reads empty.
  WriteFile(path, "[Server]\nserverIP=10.0.0.1\n");
  EXPECT_EQ(ClientConfig(path).serverKey, "");
  EXPECT_TRUE(ReadFile(path).starts_with("[Server]\nserverIP=10.0.0.1\n[User]"));
}

}  // namespace
}  // namespace ondavox::client
