#pragma once

#include <functional>
#include <string_view>

namespace ondavox {

// The two diagnostic outputs of the programs.
//
// Trace lines ("CTCPRunner::Run() [ENTER]") go to standard output, one whole line per call,
// never interleaved with another thread's line; a line may come with or without its line feed.
// Debug output (the wire traces and most failure lines) goes to standard error only when the
// environment variable ONDAVOX_DEBUG is set, as debugger output is seen only with a debugger
// attached; the text is written as given. Both go through LineWriter: a caller never waits on
// a reader who stopped reading, and lines that do not fit in its queue are dropped and counted.
//
// Tests replace either destination with a sink of their own. All functions: any thread.
void TraceLine(std::string_view line);
void DebugOut(std::string_view text);

using OutputSink = std::function<void(std::string_view)>;
// Sends every later trace line (without its line feed) to |sink|; an empty sink restores
// standard output. Returns the previous sink.
OutputSink SetTraceSink(OutputSink sink);
// Sends every later debug text to |sink|, whether or not ONDAVOX_DEBUG is set; an empty sink
// restores the default. Returns the previous sink.
OutputSink SetDebugSink(OutputSink sink);

}  // namespace ondavox
