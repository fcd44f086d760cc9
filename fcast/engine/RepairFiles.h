#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "fcast/code/WideCode.h"
#include "fcast/engine/FileLayout.h"
#include "platform/Mutex.h"
#include "platform/UniqueFd.h"

namespace ondavox::fcast {

// The repair symbols of the sender's repair turns, computed ahead on a worker thread: while turn
// t goes out, the worker computes turn t + 1's, block by block (the block's source symbols read
// from the file, one coset encoded with the WideEncoder), into one of two unlinked temporary
// files laid out like the file (block b's symbols from FirstSymbol(b) * symbolSize). Turn t
// uses file t mod 2, so turn t's file is read while turn t + 1's is written. Owns the files
// and the worker thread; the sending thread calls Request and Wait, Stop comes from any thread.
class RepairFiles {
 public:
  // Opens the two files in the system's temporary folder and starts the worker for |source|
  // cut as |layout|; |source| must stay open until destruction.
  RepairFiles(int source, const FileLayout& layout);
  // Stops the worker and joins its thread.
  ~RepairFiles();
  RepairFiles(const RepairFiles&) = delete;
  RepairFiles& operator=(const RepairFiles&) = delete;

  // Has the worker compute repair turn |turn| (>= 1) next. REQUIRES: the turn that shared its
  // file (turn - 2) is no longer read, and the previous request was waited for. The sending
  // thread.
  void Request(std::uint64_t turn) EXCLUDES(mu_);
  // Blocks until requested turn |turn| is computed; its file, or -1 when a temporary file could
  // not be opened, read or written, or on Stop. The sending thread.
  int Wait(std::uint64_t turn) EXCLUDES(mu_);
  // Ends the worker at the next block and wakes Wait. Any thread.
  void Stop() EXCLUDES(mu_);

 private:
  void Run() EXCLUDES(mu_);
  // Writes the repair symbols of |turn| into file turn mod 2; false on a failed read or write
  // or a stop.
  bool Compute(std::uint64_t turn);

  const int source_;
  const FileLayout layout_;
  UniqueFd files_[2];
  WideEncoder encoder_;  // the worker thread's
  std::atomic<bool> stop_{false};
  Mutex mu_;
  CondVar changed_;
  std::uint64_t requested_ GUARDED_BY(mu_) = 0;  // the last turn asked for; 0 for none
  std::uint64_t ready_ GUARDED_BY(mu_) = 0;      // the last turn computed
  bool failed_ GUARDED_BY(mu_) = false;
  std::thread thread_;  // declared last: starts once the members above exist
};

}  // namespace ondavox::fcast
