#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/data/DocumentDatabase.h"
#include "tests/server/data/Hex.h"
#include "tests/support/TempDir.h"

namespace ondavox::server {
namespace {

using test::Hex;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kSong =
    Hex("01 00 FF FF 01 00 08 00 43 44 6F 63 49 6E 66 6F 08 73 6F 6E 67 2E 6D 70 33 04 72 6F 6F 74 "
        "11 43 3A 5C 6D 75 73 69 63 5C 73 6F 6E 67 2E 6D 70 33 07 75 6E 6B 6E 6F 77 6E 00 00 00 00 "
        "01 00 00 00 06 61 20 73 6F 6E 67");

std::unique_ptr<CDocInfo> Doc(const std::string& owner, const std::string& file,
                              const std::string& path = "C:\\music\\song.mp3") {
  return std::make_unique<CDocInfo>(file, owner, path, "unknown", 0, 1, "a song");
}

TEST(DocumentDatabase, OneDocumentIsTheExampleFileBothWays) {
  TempDir dir;
  DocumentDatabase db(dir.File("DocumentDB.dat"));
  auto song = Doc("root", "song.mp3");
  ASSERT_TRUE(db.Add(song));
  ASSERT_TRUE(db.Save().ok());
  EXPECT_EQ(ReadFile(dir.File("DocumentDB.dat")), kSong);

  DocumentDatabase loaded(dir.File("DocumentDB.dat"));
  ASSERT_TRUE(loaded.Load().ok());
  const CDocInfo* found = loaded.Find(CDocInfo::MakeKey("root", "song.mp3"));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, *Doc("root", "song.mp3"));
  EXPECT_EQ(found->GetKey(), "rootsong.mp3");
}

TEST(DocumentDatabase, KeysJoinOwnerAndFileWithoutSeparator) {
  DocumentDatabase db("unused");
  auto first = Doc("ro", "otsong.mp3");
  ASSERT_TRUE(db.Add(first));
  auto second = Doc("root", "song.mp3");
  EXPECT_FALSE(db.Add(second));
  EXPECT_NE(second, nullptr);
  // The same file name added by hand from another folder is the same key.
  auto other = Doc("root", "a.mp3", "/one/a.mp3");
  ASSERT_TRUE(db.Add(other));
  auto again = Doc("root", "a.mp3", "/two/a.mp3");
  EXPECT_FALSE(db.Add(again));
  EXPECT_EQ(db.GetStore().GetCount(), 2u);
  EXPECT_TRUE(db.Remove("rootsong.mp3"));
  EXPECT_FALSE(db.Remove("rootsong.mp3"));
}

TEST(DocumentDatabase, RefusesAnotherSchemaOrClass) {
  std::string schemaZero = kSong;
  schemaZero[4] = 0;
  RecordStore<CDocInfo> store("DocumentDB.dat");
  Status status = store.Decode(schemaZero);
  EXPECT_EQ(status.code(), Status::Code::kFormatError);
  EXPECT_EQ(status.message(),
            "DocumentDB.dat: format error at byte 2: schema 0 of class CDocInfo where 1 was "
            "expected");
  status = store.Decode(Hex("01 00 FF FF 00 00 09 00 43 55 73 65 72 49 6E 66 6F"));
  EXPECT_NE(status.message().find("class CUserInfo where CDocInfo was expected"),
            std::string::npos);
  EXPECT_EQ(store.GetCount(), 0u);
}

TEST(DocumentDatabase, EditsInPlaceAreSaved) {
  TempDir dir;
  WriteFile(dir.File("DocumentDB.dat"), kSong);
  DocumentDatabase db(dir.File("DocumentDB.dat"));
  ASSERT_TRUE(db.Load().ok());
  CDocInfo* song = db.Find("rootsong.mp3");
  ASSERT_NE(song, nullptr);
  song->SetDescription("b song");
  song->SetStreamable(1);
  ASSERT_TRUE(db.Save().ok());
  std::string expected = kSong;
  expected[56] = 1;
  expected[65] = 'b';
  EXPECT_EQ(ReadFile(dir.File("DocumentDB.dat")), expected);
}

}  // namespace
}  // namespace ondavox::server
