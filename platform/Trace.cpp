#include "platform/Trace.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/LineWriter.h"
#include "platform/Mutex.h"

namespace ondavox {
namespace {

struct Sinks {
  Mutex mu;
  OutputSink trace GUARDED_BY(mu);
  OutputSink debug GUARDED_BY(mu);
};

Sinks& TheSinks() {
  static Sinks sinks;
  return sinks;
}

bool DebugEnabled() {
  static const bool enabled = std::getenv("ONDAVOX_DEBUG") != nullptr;
  return enabled;
}

}  // namespace

void TraceLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  Sinks& sinks = TheSinks();
  MutexLock lock(sinks.mu);
  if (sinks.trace) {
    sinks.trace(line);
    return;
  }
  std::string whole(line);
  whole.push_back('\n');
  LineWriter::ForFd(STDOUT_FILENO).Write(whole);
}

void DebugOut(std::string_view text) {
  Sinks& sinks = TheSinks();
  MutexLock lock(sinks.mu);
  if (sinks.debug) {
    sinks.debug(text);
    return;
  }
  if (DebugEnabled()) LineWriter::ForFd(STDERR_FILENO).Write(text);
}

OutputSink SetTraceSink(OutputSink sink) {
  Sinks& sinks = TheSinks();
  MutexLock lock(sinks.mu);
  std::swap(sinks.trace, sink);
  return sink;
}

OutputSink SetDebugSink(OutputSink sink) {
  Sinks& sinks = TheSinks();
  MutexLock lock(sinks.mu);
  std::swap(sinks.debug, sink);
  return sink;
}

}  // namespace ondavox
