// The server without a window, run as a process in the test's private network: clients
// register and log in over TCP, SIGTERM stops it, and the files it leaves are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "server/data/UserDatabase.h"
#include "tests/server_net/ServerFixture.h"
#include "tests/support/TempDir.h"

namespace ondavox::test {
namespace {

// ondavoxd started in |directory|, its standard output and error in files there.
class ServerProcess {
 public:
  explicit ServerProcess(const TempDir& directory) {
    const std::string out = directory.File("stdout.txt");
    const std::string err = directory.File("stderr.txt");
    const std::string folder = directory.path().string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (outFd < 0 || errFd < 0 || ::dup2(outFd, STDOUT_FILENO) < 0 ||
          ::dup2(errFd, STDERR_FILENO) < 0 || ::chdir(folder.c_str()) != 0) {
        ::_exit(127);
      }
      ::execl(ONDAVOXD, ONDAVOXD, static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // The exit status, or -1 when it did not end normally within 20 seconds.
  int Wait() {
    int status = 0;
    for (int i = 0; i < 2000; ++i) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(Ondavoxd, ServesClientsAndSavesTheNewUsersOfflineOnSigterm) {
  TempDir dir;
  ServerProcess server(dir);
  {
    TestClient bob(1550);  // retries while the server starts
    ASSERT_TRUE(bob.Connected());
    EXPECT_EQ(bob.Ask("REGISTER\tbob\tsecret\tBob\tBrown\t10.0.0.2\t4000"), "204");
    TestClient ann(1550);
    EXPECT_EQ(ann.Ask("REGISTER\tann\tpw\tAnn\tSmith\t10.0.0.3\t4001"), "204");
    EXPECT_EQ(ann.Ask("LOGOUT\tann"), "202");
    TestClient again(1550);
    EXPECT_EQ(again.Ask("LOGIN\tann\tpw\t10.0.0.3\t4001"), "201");
    EXPECT_EQ(again.Ask("LOGIN\tbob\tsecret\t10.0.0.3\t4001"), "401");  // bob is online
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
  ServerProcess server(dir);
  TestClient client(1550);
  ASSERT_TRUE(client.Connected());
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "UserDB.dat"));
}

TEST(Ondavoxd, AUserDatabaseThatDoesNotParseEndsItWithStatusOneNamingTheFile) {
  TempDir dir;
  WriteFile(dir.path() / "UserDB.dat", "\x02");
  ServerProcess server(dir);
  EXPECT_EQ(server.Wait(), 1);
  EXPECT_NE(ReadFile(dir.path() / "stderr.txt").find("UserDB.dat"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.path() / "UserDB.dat"), "\x02");  // left as it was
}

}  // namespace
}  // namespace ondavox::test
