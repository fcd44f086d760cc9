#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/data/UserDatabase.h"
#include "tests/server/data/Hex.h"
#include "tests/support/TempDir.h"

namespace ondavox::server {
namespace {

using test::Hex;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kBob =
    Hex("01 00 FF FF 00 00 09 00 43 55 73 65 72 49 6E 66 6F 00 00 00 00 00 00 00 00 09 31 32 37 2E "
        "30 2E 30 2E 31 03 4C 65 65 03 62 6F 62 00 9A 02 00 00 03 42 6F 62");
constexpr std::size_t kClassRecordEnd = 17;  // count, tag and class record of kBob

std::unique_ptr<CUserInfo> User(const std::string& login, int32_t online = 0) {
  return std::make_unique<CUserInfo>(login, "", "Bob", "Lee", 0, online, "127.0.0.1", 666);
}

void AddUser(UserDatabase& db, std::unique_ptr<CUserInfo> user) { ASSERT_TRUE(db.Add(user)); }

std::vector<std::string> Logins(const UserDatabase& db, int32_t status) {
  std::vector<std::string> logins;
  db.ListLoginsByStatus(logins, status);
  return logins;
}

TEST(UserDatabase, OneUserIsTheExampleFileBothWays) {
  TempDir dir;
  UserDatabase db(dir.File("UserDB.dat"));
  // Saved while logged in: the file says offline, the memory still online.
  AddUser(db, User("bob", 1));
  ASSERT_TRUE(db.Save().ok());
  EXPECT_EQ(ReadFile(dir.File("UserDB.dat")), kBob);
  EXPECT_EQ(db.Find("bob")->online(), 1);

  UserDatabase loaded(dir.File("UserDB.dat"));
  ASSERT_TRUE(loaded.Load().ok());
  ASSERT_EQ(loaded.GetCount(), 1u);
  EXPECT_EQ(*loaded.Find("bob"), *User("bob"));
}

TEST(UserDatabase, ZeroTwoAndManyUsers) {
  TempDir dir;
  UserDatabase db(dir.File("UserDB.dat"));
  ASSERT_TRUE(db.Save().ok());
  EXPECT_EQ(ReadFile(dir.File("UserDB.dat")), Hex("00 00"));
  ASSERT_TRUE(db.Load().ok());
  EXPECT_EQ(db.GetCount(), 0u);

  AddUser(db, User("bob"));
  AddUser(db, std::make_unique<CUserInfo>("a", "", "", "", 1, 0, "", 1));
  ASSERT_TRUE(db.Save().ok());
  EXPECT_EQ(ReadFile(dir.File("UserDB.dat")),
            Hex("02") + kBob.substr(1) +
                Hex("01 80 01 00 00 00 00 00 00 00 00 00 01 61 00 01 00 00 00 00"));

  // 300 users: count 300, then the class record once and 01 80 before every later body.
  UserDatabase many(dir.File("Many.dat"));
  for (int i = 0; i < 300; ++i) AddUser(many, User("user" + std::to_string(1000 + i)));
  ASSERT_TRUE(many.Save().ok());
  const std::string bytes = ReadFile(dir.File("Many.dat"));
  const std::size_t body = kBob.size() - kClassRecordEnd + 5;  // login 8 bytes instead of 3
  ASSERT_EQ(bytes.size(), kClassRecordEnd + 300 * body + 299 * 2);
  EXPECT_EQ(bytes.substr(0, 2), Hex("2C 01"));
  for (std::size_t i = 1; i < 300; ++i) {
    EXPECT_EQ(bytes.substr(kClassRecordEnd + i * body + (i - 1) * 2, 2), Hex("01 80")) << i;
  }
  UserDatabase reloaded(dir.File("Many.dat"));
  ASSERT_TRUE(reloaded.Load().ok());
  EXPECT_EQ(Logins(reloaded, 0), Logins(many, 0));
}

TEST(UserDatabase, LongStringsRoundTrip) {
  TempDir dir;
  UserDatabase db(dir.File("UserDB.dat"));
  const std::string lengths[] = {std::string(254, 'a'), std::string(255, 'b'),
                                 std::string(65533, 'c'), std::string(65534, 'd'),
                                 std::string(100000, 'e')};
  for (const std::string& text : lengths) {
    AddUser(db, std::make_unique<CUserInfo>(text, text, text, text, 1, 0, text, 7));
  }
  ASSERT_TRUE(db.Save().ok());
  UserDatabase loaded(dir.File("UserDB.dat"));
  ASSERT_TRUE(loaded.Load().ok());
  for (const std::string& text : lengths) {
    const CUserInfo* user = loaded.Find(text);
    ASSERT_NE(user, nullptr) << text.size();
    EXPECT_EQ(*user, *db.Find(text));
  }
}

TEST(UserDatabase, LoginsAreExactAndTheFirstDuplicateWins) {
  // A stored file may list one login twice; both load, operations act on the first.
  const std::string body = kBob.substr(kClassRecordEnd);
  std::string twice = Hex("02") + kBob.substr(1) + Hex("01 80") + body;
  twice[twice.size() - 35] = 1;  // banned of the second bob
  RecordStore<CUserInfo> store("UserDB.dat");
  ASSERT_TRUE(store.Decode(twice).ok());
  ASSERT_EQ(store.GetCount(), 2u);
  EXPECT_EQ(store.Find("bob")->banned(), 0);
  auto again = User("bob");
  EXPECT_FALSE(store.Add(again));
  EXPECT_NE(again, nullptr);  // refused: the caller keeps it
  ASSERT_TRUE(store.Remove("bob"));
  EXPECT_EQ(store.Find("bob")->banned(), 1);
  ASSERT_TRUE(store.Remove("bob"));
  EXPECT_EQ(store.Find("bob"), nullptr);
  EXPECT_FALSE(store.Remove("bob"));

  UserDatabase db("unused");
  AddUser(db, User("bob"));
  AddUser(db, User("Bob"));
  EXPECT_EQ(db.Find("BOB"), nullptr);
  EXPECT_TRUE(db.Remove("Bob"));
  EXPECT_NE(db.Find("bob"), nullptr);
}

TEST(UserDatabase, StatusListsAndReset) {
  UserDatabase db("unused");
  AddUser(db, User("carol", 1));
  AddUser(db, User("alice", 0));
  AddUser(db, User("bob", 1));
  EXPECT_EQ(Logins(db, 1), (std::vector<std::string>{"carol", "bob"}));
  std::vector<std::string> logins{"kept"};
  db.ListLoginsByStatus(logins, 0);
  EXPECT_EQ(logins, (std::vector<std::string>{"kept", "alice"}));
  db.ResetOnlineStatus();
  EXPECT_EQ(Logins(db, 0), (std::vector<std::string>{"carol", "alice", "bob"}));
  EXPECT_TRUE(Logins(db, 1).empty());
}

TEST(UserDatabase, MissingEmptyAndUnreadableFiles) {
  TempDir dir;
  UserDatabase missing(dir.File("UserDB.dat"));
  EXPECT_TRUE(missing.Load().ok());
  EXPECT_EQ(missing.GetCount(), 0u);
  ASSERT_TRUE(missing.Save().ok());
  EXPECT_TRUE(std::filesystem::exists(dir.File("UserDB.dat")));

  // A file of zero bytes has no count: a format error, unlike a missing file.
  WriteFile(dir.File("Empty.dat"), "");
  UserDatabase empty(dir.File("Empty.dat"));
  const Status status = empty.Load();
  EXPECT_EQ(status.code(), Status::Code::kFormatError);
  EXPECT_NE(status.message().find("Empty.dat: format error at byte 0"), std::string::npos)
      << status.message();

  // A path that exists but cannot be read is an error, so a later save cannot replace it.
  std::filesystem::create_directory(dir.File("Folder.dat"));
  UserDatabase folder(dir.File("Folder.dat"));
  EXPECT_EQ(folder.Load().code(), Status::Code::kIoError);
}

TEST(UserDatabase, EveryCutOfAValidFileIsAFormatErrorThatChangesNothing) {
  RecordStore<CUserInfo> source("UserDB.dat");
  for (const std::string& login :
       {std::string("bob"), std::string(254, 'x'), std::string(255, 'y')}) {
    auto user = std::make_unique<CUserInfo>(login, "pw", "N", "L", 0, 1, "10.0.0.1", 80);
    ASSERT_TRUE(source.Add(user));
  }
  const std::string bytes = source.Encode();

  RecordStore<CUserInfo> store("UserDB.dat");
  ASSERT_TRUE(store.Decode(kBob).ok());
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    const Status status = store.Decode(std::string_view(bytes).substr(0, cut));
    ASSERT_EQ(status.code(), Status::Code::kFormatError) << cut;
    ASSERT_LE(status.offset(), cut);
    ASSERT_EQ(store.GetCount(), 1u) << cut;
  }
  EXPECT_NE(store.Find("bob"), nullptr);
  ASSERT_TRUE(store.Decode(bytes).ok());
  EXPECT_EQ(store.Encode(), bytes);
}

TEST(UserDatabase, HoldsAtMost65535Users) {
  UserDatabase db("unused");
  for (int i = 0; i < 65535; ++i) AddUser(db, User(std::to_string(i)));
  auto extra = User("extra");
  EXPECT_FALSE(db.Add(extra));
  EXPECT_NE(extra, nullptr);
  EXPECT_EQ(db.GetCount(), 65535u);
}

TEST(UserDatabase, FailedSaveIsReportedAndKeepsTheUsers) {
  TempDir dir;
  // A folder where the file should be cannot be replaced.
  std::filesystem::create_directory(dir.File("UserDB.dat"));
  WriteFile(dir.File("UserDB.dat") + "/inside", "x");
  UserDatabase db(dir.File("UserDB.dat"));
  AddUser(db, User("bob"));
  const Status status = db.Save();
  EXPECT_EQ(status.code(), Status::Code::kIoError);
  EXPECT_NE(status.message().find("UserDB.dat"), std::string::npos) << status.message();
  EXPECT_NE(db.Find("bob"), nullptr);
  EXPECT_EQ(ReadFile(dir.File("UserDB.dat") + "/inside"), "x");
}

}  // namespace
}  // namespace ondavox::server
