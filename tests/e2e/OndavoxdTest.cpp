// The server without a window, run as a process in the test's private network: clients
// register and log in over TCP, SIGTERM stops it, and the files it leaves are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/ReplyCodes.h"
#include "server/data/UserDatabase.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {

using namespace ondavox::server;
namespace {

// ondavoxd started in |directory|, its standard output and error in files there.
ChildProcess StartServer(const TempDir& directory) {
  return ChildProcess({ONDAVOXD}, directory.path(), directory.path() / "stdout.txt", {},
                      directory.path() / "stderr.txt");
}

TEST(Ondavoxd, ServesClientsAndSavesTheNewUsersOfflineOnSigterm) {
  TempDir dir;
  ChildProcess server = StartServer(dir);
  {
    TestClient bob(1550);  // retries while the server starts
    ASSERT_TRUE(bob.Connected());
    EXPECT_EQ(bob.Ask("REGISTER\tbob\tsecret\tBob\tBrown\t10.0.0.2\t4000"), kRegistered);
    TestClient ann(1550);
    EXPECT_EQ(ann.Ask("REGISTER\tann\tpw\tAnn\tSmith\t10.0.0.3\t4001"), kRegistered);
    EXPECT_EQ(ann.Ask("LOGOUT\tann"), kLogoutAccepted);
    TestClient again(1550);
    EXPECT_EQ(again.Ask("LOGIN\tann\tpw\t10.0.0.3\t4001"), kLoginAccepted);
    EXPECT_EQ(again.Ask("LOGIN\tbob\tsecret\t10.0.0.3\t4001"), kLoginRefused);  // bob is online
    ASSERT_TRUE(WaitFor([&] {
      return ReadFile(dir.path() / "stdout.txt").find("New client logged : ann") !=
             std::string::npos;
    }));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0) << ReadFile(dir.path() / "stderr.txt");
  }

  UserDatabase users(dir.File("UserDB.dat"));
  ASSERT_TRUE(users.Load().ok());
  ASSERT_NE(users.Find("bob"), nullptr);
  EXPECT_EQ(users.Find("bob")->password(), "secret");
  EXPECT_EQ(users.Find("bob")->online(), 0);
  ASSERT_NE(users.Find("ann"), nullptr);
  EXPECT_EQ(users.Find("ann")->online(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "DocumentDB.dat"));

  const std::string ini = ReadFile(dir.path() / "server.ini");
  for (const char* section : {"[Server]", "[TCP]", "[UDP]", "[Fcast]"}) {
    EXPECT_NE(ini.find(section), std::string::npos) << ini;
  }
  const std::string out = ReadFile(dir.path() / "stdout.txt");
  for (const char* line :
       {" Server started.\n", " A new client was added to the database : bob\n",
        " New client logged : bob\n", " ann has logged out.\n",
        " LOGIN: An user tried to connect under the login bob but he wasn't allowed to.\n",
        " Server stopped.\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
  }
}

TEST(Ondavoxd, SigintStopsItToo) {
  TempDir dir;
  ChildProcess server = StartServer(dir);
  TestClient client(1550);
  ASSERT_TRUE(client.Connected());
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "UserDB.dat"));
}

TEST(Ondavoxd, AUserDatabaseThatDoesNotParseEndsItWithStatusOneNamingTheFile) {
  TempDir dir;
  WriteFile(dir.path() / "UserDB.dat", "\x02");
  ChildProcess server = StartServer(dir);
  EXPECT_EQ(server.Wait(), 1);
  EXPECT_NE(ReadFile(dir.path() / "stderr.txt").find("UserDB.dat"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.path() / "UserDB.dat"), "\x02");  // left as it was
}

// Its standard output a pipe that nobody reads: the trace and log lines that fill it never hold
// up the connections nor the stop.
TEST(Ondavoxd, AnOutputNobodyReadsHoldsUpNeitherTheClientsNorTheStop) {
  TempDir dir;
  const std::filesystem::path fifo = dir.path() / "stdout.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int neverRead = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(neverRead, 0);
  ChildProcess server({ONDAVOXD}, dir.path(), fifo, {}, dir.path() / "stderr.txt");
  constexpr int kUsers = 400;
  for (int i = 0; i < kUsers; ++i) {
    TestClient client(1550);  // retries while the server starts
    ASSERT_TRUE(client.Connected()) << i;
    const std::string login = "user" + std::to_string(i);
    ASSERT_EQ(client.Ask("REGISTER\t" + login + "\tpw\tA\tB\t10.0.0.2\t4000"), kRegistered) << i;
    ASSERT_EQ(client.Ask("LOGOUT\t" + login), kLogoutAccepted) << i;
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << ReadFile(dir.path() / "stderr.txt");
  ::close(neverRead);
  UserDatabase users(dir.File("UserDB.dat"));
  ASSERT_TRUE(users.Load().ok());
  EXPECT_NE(users.Find("user0"), nullptr);
  EXPECT_NE(users.Find("user" + std::to_string(kUsers - 1)), nullptr);
}

// A database folder that does not exist would lose every save of the session: it refuses to
// start, naming the path.
TEST(Ondavoxd, AMissingDatabaseFolderEndsItWithStatusOneNamingThePath) {
  for (const char* key : {"clientDatabase", "documentDatabase"}) {
    TempDir dir;
    const std::string missing = dir.File("no-such-folder") + "/Base.dat";
    WriteFile(dir.path() / "server.ini", std::string("[Server]\n") + key + "=" + missing + "\n");
    ChildProcess server = StartServer(dir);
    EXPECT_EQ(server.Wait(), 1) << key;
    const std::string errors = ReadFile(dir.path() / "stderr.txt");
    EXPECT_NE(errors.find(key), std::string::npos) << errors;
    EXPECT_NE(errors.find(missing), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no-such-folder"));
  }
}

TEST(Ondavoxd, AKeyThatCannotBeReadEndsItWithStatusOneNamingTheFile) {
  TempDir dir;
  WriteFile(dir.path() / "server.key", "not a key\n");
  ::chmod(dir.File("server.key").c_str(), 0600);
  ChildProcess server = StartServer(dir);
  EXPECT_EQ(server.Wait(), 1);
  const std::string errors = ReadFile(dir.path() / "stderr.txt");
  EXPECT_EQ(errors.rfind("ondavoxd: " + dir.File("server.key"), 0), 0u) << errors;
  EXPECT_EQ(ReadFile(dir.path() / "server.key"), "not a key\n");
}

}  // namespace
}  // namespace ondavox::test
