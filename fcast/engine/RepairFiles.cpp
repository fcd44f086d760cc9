#include "fcast/engine/RepairFiles.h"

#include <fcntl.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "fcast/code/WideCode.h"
#include "fcast/engine/PositionedIo.h"
#include "fcast/engine/TurnIds.h"

namespace ondavox::fcast {
namespace {

// An unlinked file in the system's temporary folder; invalid when none can be made.
UniqueFd OpenUnlinkedFile() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return UniqueFd();
  return UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

}  // namespace

RepairFiles::RepairFiles(int source, const FileLayout& layout)
    : source_(source),
      layout_(layout),
      files_{OpenUnlinkedFile(), OpenUnlinkedFile()},
      thread_(&RepairFiles::Run, this) {}

RepairFiles::~RepairFiles() {
  Stop();
  thread_.join();
}

void RepairFiles::Request(std::uint64_t turn) {
  {
    MutexLock lock(mu_);
    requested_ = turn;
  }
  changed_.NotifyAll();
}

int RepairFiles::Wait(std::uint64_t turn) {
  MutexLock lock(mu_);
  changed_.Wait(mu_, [&]() REQUIRES(mu_) { return ready_ == turn || failed_ || stop_.load(); });
  if (ready_ != turn) return -1;
  return files_[turn % 2].Get();
}

void RepairFiles::Stop() {
  {
    MutexLock lock(mu_);
    stop_ = true;
  }
  changed_.NotifyAll();
}

void RepairFiles::Run() {
  for (;;) {
    std::uint64_t turn = 0;
    {
      MutexLock lock(mu_);
      changed_.Wait(mu_, [&]() REQUIRES(mu_) { return requested_ != ready_ || stop_.load(); });
      if (stop_) return;
      turn = requested_;
    }
    const bool computed = Compute(turn);
    {
      MutexLock lock(mu_);
      if (computed) {
        ready_ = turn;
      } else {
        failed_ = true;
      }
    }
    changed_.NotifyAll();
    if (!computed) return;
  }
}

bool RepairFiles::Compute(std::uint64_t turn) {
  const int out = files_[turn % 2].Get();
  if (out < 0) return false;
  const std::size_t symbolSize = layout_.SymbolSize();
  std::vector<std::uint8_t> source;
  std::vector<std::uint8_t> repair;
  std::vector<const std::uint8_t*> sources;
  std::vector<std::uint8_t*> repairs;
  for (std::uint32_t block = 0; block < layout_.BlockCount(); ++block) {
    if (stop_) return false;
    const std::uint32_t kb = layout_.SourceSymbols(block);
    const std::size_t bytes = std::size_t{kb} * symbolSize;
    const std::size_t inFile = layout_.BlockBytes(block);
    source.resize(bytes);
    repair.resize(bytes);
    if (!ReadAt(source_, source.data(), inFile, layout_.Offset(block, 0))) return false;
    std::memset(source.data() + inFile, 0, bytes - inFile);  // the file's last symbol
    sources.resize(kb);
    repairs.resize(kb);
    for (std::uint32_t j = 0; j < kb; ++j) {
      sources[j] = source.data() + j * symbolSize;
      repairs[j] = repair.data() + j * symbolSize;
    }
    encoder_.EncodeCoset(kb, symbolSize, sources.data(), RepairCoset(turn, kb), kb, repairs.data());
    if (!WriteAt(out, repair.data(), bytes, layout_.Offset(block, 0))) return false;
  }
  return true;
}

}  // namespace ondavox::fcast
