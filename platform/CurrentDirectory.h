#pragma once

#include <string>

namespace ondavox {

// The process's current directory, or "." when the system cannot tell it (a directory removed
// under the process), so that paths built on it stay relative rather than rooted. Any thread.
std::string CurrentDirectory();

}  // namespace ondavox
