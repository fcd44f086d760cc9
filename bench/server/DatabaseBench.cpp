// The user database at its size limit: load and save time of a full 65,535-user file, and the
// time of Find by login with 10 and with 65,535 users (the index keeps the two alike).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/data/UserDatabase.h"

namespace {

using ondavox::server::CUserInfo;
using ondavox::server::UserDatabase;

// A folder of its own under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ondavox-bench-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string Login(int i) { return "user" + std::to_string(100000 + i); }

std::vector<std::string> Fill(UserDatabase& db, int count) {
  std::vector<std::string> logins;
  for (int i = 0; i < count; ++i) {
    logins.push_back(Login(i));
    auto user = std::make_unique<CUserInfo>(logins.back(), "secret" + std::to_string(i),
                                            "Firstname", "Lastname", 0, i % 2,
                                            "192.168." + std::to_string(i % 256) + ".23", 1550);
    db.Add(user);
  }
  return logins;
}

void BM_UserDatabaseSave(benchmark::State& state) {
  ScratchDir dir;
  UserDatabase db(dir.File("UserDB.dat"));
  Fill(db, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!db.Save().ok()) state.SkipWithError("save failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(dir.File("UserDB.dat"))));
}
BENCHMARK(BM_UserDatabaseSave)->Arg(65535)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UserDatabaseLoad(benchmark::State& state) {
  ScratchDir dir;
  UserDatabase source(dir.File("UserDB.dat"));
  Fill(source, static_cast<int>(state.range(0)));
  if (!source.Save().ok()) state.SkipWithError("save failed");
  for (auto _ : state) {
    UserDatabase db(dir.File("UserDB.dat"));
    if (!db.Load().ok() || db.GetCount() != static_cast<std::size_t>(state.range(0))) {
      state.SkipWithError("load failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_UserDatabaseLoad)->Arg(65535)->Unit(benchmark::kMillisecond)->UseRealTime();

// Finds logins cycling through 16 logins (the few clients active at a time, so
// the index stays in the processor's caches), or through every login in a scattered order
// (each lookup then waits for memory, whatever the index).
void FindLogins(benchmark::State& state, bool wholeDatabase) {
  UserDatabase db("unused");
  const std::vector<std::string> logins = Fill(db, static_cast<int>(state.range(0)));
  std::vector<std::string> order;
  const std::size_t spread = wholeDatabase ? logins.size() : 16;
  for (std::size_t i = 0; i < spread; ++i) order.push_back(logins[(i * 7919) % logins.size()]);
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(db.Find(order[next]));
    next = next + 1 == order.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_UserDatabaseFind(benchmark::State& state) { FindLogins(state, false); }
BENCHMARK(BM_UserDatabaseFind)->Arg(10)->Arg(65535);

void BM_UserDatabaseFindScattered(benchmark::State& state) { FindLogins(state, true); }
BENCHMARK(BM_UserDatabaseFindScattered)->Arg(10)->Arg(65535);

}  // namespace
