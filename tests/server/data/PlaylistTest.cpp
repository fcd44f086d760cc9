#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#include "server/data/Playlist.h"

namespace ondavox::server {
namespace {

CDocInfo Doc(const std::string& file) {
  return CDocInfo(file, "root", "/m/" + file, "unknown", 0, 1, "d");
}

std::string Files(const Playlist& playlist) {
  std::string files;
  for (int i = 0; i < playlist.GetCount(); ++i) files += playlist.GetAt(i)->fileName();
  return files;
}

Playlist& Abc(Playlist& playlist) {
  for (const char* file : {"A", "B", "C"}) playlist.AddTail(Doc(file));
  return playlist;
}

TEST(Playlist, MoveFollowsTheExamples) {
  struct Case {
    int index;
    int step;
    std::string after;
    int result;
  };
  const Case cases[] = {{1, -1, "ACB", 2}, {2, 1, "ACB", 1},  {2, -1, "ABC", 2}, {0, 1, "ABC", 0},
                        {1, 1, "BAC", 0},  {0, -5, "BCA", 2}, {2, 7, "CAB", 0},  {0, -1, "BAC", 1}};
  for (const Case& c : cases) {
    Playlist playlist;
    EXPECT_EQ(Abc(playlist).Move(c.index, c.step), c.result) << c.index << " " << c.step;
    EXPECT_EQ(Files(playlist), c.after) << c.index << " " << c.step;
  }
  Playlist one;
  one.AddTail(Doc("A"));
  EXPECT_EQ(one.Move(0, 1), 0);
  EXPECT_EQ(one.Move(0, -1), 0);
  EXPECT_EQ(Files(one), "A");
}

TEST(Playlist, MissingEntriesAreReportedAndChangeNothing) {
  Playlist playlist;
  EXPECT_EQ(playlist.GetHead(), std::nullopt);
  EXPECT_EQ(playlist.Move(0, 1), std::nullopt);
  EXPECT_EQ(playlist.RemoveAt(0), 0);
  Abc(playlist);
  for (int index : {-1, 3, 4}) {
    EXPECT_EQ(playlist.RemoveAt(index), 0) << index;
    EXPECT_EQ(playlist.GetAt(index), std::nullopt) << index;
    EXPECT_EQ(playlist.Move(index, 1), std::nullopt) << index;
  }
  EXPECT_EQ(Files(playlist), "ABC");
  EXPECT_EQ(playlist.RemoveAt(1), 1);
  EXPECT_EQ(Files(playlist), "AC");
  EXPECT_EQ(playlist.GetHead()->fileName(), "A");
}

TEST(Playlist, EntriesAreCopies) {
  Playlist playlist;
  CDocInfo doc = Doc("A");
  playlist.AddTail(doc);
  doc.SetDescription("changed");
  EXPECT_EQ(playlist.GetHead()->description(), "d");
}

// The window thread adds and reorders while the sender takes heads and counts: every entry is
// removed exactly once (and, under ThreadSanitizer, without a data race).
TEST(Playlist, ConcurrentOperationsRemoveEveryEntryOnce) {
  Playlist playlist;
  constexpr int kEntries = 2000;
  std::thread window([&] {
    for (int i = 0; i < kEntries; ++i) {
      playlist.AddTail(Doc(std::to_string(i)));
      playlist.Move(playlist.GetCount() - 1, 1);
    }
  });
  int removed = 0;
  std::thread sender([&] {
    while (removed < kEntries) {
      if (playlist.GetCount() == 0 || !playlist.GetHead()) {
        std::this_thread::yield();
        continue;
      }
      removed += playlist.RemoveAt(0);
    }
  });
  window.join();
  sender.join();
  EXPECT_EQ(removed, kEntries);
  EXPECT_EQ(playlist.GetCount(), 0);
  EXPECT_EQ(playlist.RemoveAt(0), 0);
}

}  // namespace
}  // namespace ondavox::server
