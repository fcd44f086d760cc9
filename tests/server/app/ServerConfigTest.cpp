#include <gtest/gtest.h>

#include <string>

#include "server/app/ServerConfig.h"
#include "tests/support/TempDir.h"

namespace ondavox::server {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ServerConfig, MissingFileGetsEveryDefaultAndAllFourSections) {
  TempDir dir;
  const std::string ini = dir.File("server.ini");
  ServerConfig config(ini, "/srv/ondavox");
  EXPECT_EQ(config.path, "/srv/ondavox");
  EXPECT_EQ(config.clientDatabase, "/srv/ondavox/UserDB.dat");
  EXPECT_EQ(config.documentDatabase, "/srv/ondavox/DocumentDB.dat");
  EXPECT_EQ(config.documentPath, "/srv/ondavox/upload/");
  EXPECT_EQ(config.Port, 1550);
  EXPECT_EQ(config.MulticastPort, 2001);
  EXPECT_EQ(config.MulticastIP, "230.0.0.1");
  EXPECT_EQ(config.FcastRound, 3);
  EXPECT_EQ(config.FcastIP, "230.0.0.2");
  EXPECT_EQ(config.FcastPort, 1711);
  EXPECT_EQ(config.FcastRate, 400);

  // The file now holds them, so a second load from elsewhere reads the same values.
  ServerConfig again(ini, "/elsewhere");
  EXPECT_EQ(again.clientDatabase, "/srv/ondavox/UserDB.dat");
  EXPECT_EQ(again.FcastIP, "230.0.0.2");
  EXPECT_EQ(again.FcastRate, 400);
  EXPECT_EQ(ReadFile(ini),
            "[Server]\npath=/srv/ondavox\nclientDatabase=/srv/ondavox/UserDB.dat\n"
            "documentDatabase=/srv/ondavox/DocumentDB.dat\ndocumentPath=/srv/ondavox/upload/\n"
            "[TCP]\nPort=1550\n[UDP]\nMulticastPort=2001\nMulticastIP=230.0.0.1\n"
            "[Fcast]\nFcastRound=3\nFcastIP=230.0.0.2\nFcastPort=1711\nFcastRate=400\n");
}

TEST(ServerConfig, PresentSectionsTakeDefaultsWithoutWritingThem) {
  TempDir dir;
  const std::string ini = dir.File("server.ini");
  const std::string content =
      "[Server]\npath=\nclientDatabase=/data/users.dat\n"
      "[TCP]\nPort=12ab\n"
      "[UDP]\nMulticastPort=0\n"
      "[Fcast]\nFcastRound=abc\nFcastIP=\nFcastPort= -7\n"
      "[Limits]\nMaxConnections=500\nLoginTimeout=9\n";
  WriteFile(ini, content);
  ServerConfig config(ini, "/cwd");
  EXPECT_EQ(config.MaxConnections, 500);
  EXPECT_EQ(config.MaxUnauthenticated, 0);  // absent: the server's default
  EXPECT_EQ(config.LoginTimeout, 9);
  EXPECT_EQ(config.path, "/cwd");
  EXPECT_EQ(config.clientDatabase, "/data/users.dat");
  EXPECT_EQ(config.documentDatabase, "/cwd/DocumentDB.dat");
  EXPECT_EQ(config.Port, 12);
  EXPECT_EQ(config.MulticastPort, 2001);
  EXPECT_EQ(config.MulticastIP, "");  // only a missing section brings the default group
  EXPECT_EQ(config.FcastRound, 3);
  EXPECT_EQ(config.FcastIP, "230.0.0.2");
  EXPECT_EQ(config.FcastPort, -7);
  EXPECT_EQ(config.FcastRate, 400);
  EXPECT_EQ(ReadFile(ini), content);

  WriteFile(ini, "[TCP]\nPort=abc\n");
  EXPECT_EQ(ServerConfig(ini, "/cwd").Port, 1550);
  WriteFile(ini, "[TCP]\nPort=99999999999\n");
  EXPECT_EQ(ServerConfig(ini, "/cwd").Port, 2147483647);
}

TEST(ServerConfig, SaveWritesEveryValueToTheBoundFile) {
  TempDir dir;
  ServerConfig config(dir.File("first.ini"), "/cwd");
  config.SetFileName(dir.File("second.ini"));
  config.Port = 1551;
  config.MulticastIP = "";
  config.FcastRate = 800;
  config.documentPath = "/docs/";
  ASSERT_TRUE(config.Save());
  ServerConfig reloaded(dir.File("second.ini"), "/other");
  EXPECT_EQ(reloaded.Port, 1551);
  EXPECT_EQ(reloaded.MulticastIP, "");
  EXPECT_EQ(reloaded.FcastRate, 800);
  EXPECT_EQ(reloaded.documentPath, "/docs/");
  EXPECT_EQ(reloaded.path, "/cwd");
  // Saving into a folder that does not exist reports the failure.
  config.SetFileName(dir.File("missing/server.ini"));
  EXPECT_FALSE(config.Save());
}

TEST(ServerConfig, InterfacesAreReadWhenPresentAndSavedOnlyWhenSet) {
  TempDir dir;
  const std::string ini = dir.File("server.ini");
  WriteFile(ini, "[UDP]\nInterface=192.168.4.2\n[Fcast]\nFcastIP=230.0.0.9\n");
  ServerConfig config(ini, "/cwd");
  EXPECT_EQ(config.MulticastInterface, "192.168.4.2");
  EXPECT_EQ(config.FcastInterface, "");

  ASSERT_TRUE(config.Save());
  const std::string saved = ReadFile(ini);
  EXPECT_NE(saved.find("[UDP]\nInterface=192.168.4.2\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Interface="), saved.rfind("Interface=")) << "no empty [Fcast] Interface";
  config.FcastInterface = "10.1.0.1";
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(ServerConfig(ini, "/cwd").FcastInterface, "10.1.0.1");
}

}  // namespace
}  // namespace ondavox::server
