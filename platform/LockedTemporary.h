#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace ondavox {

// A temporary file that its writer holds under an exclusive flock for as long as it is open,
// so that a clean-up at start-up (RemoveUnlockedFiles) takes only the files that a killed
// writer left and never one that a live writer owns. Any thread.
struct LockedTemporary {
  UniqueFd fd;
  std::string path;
};

// Creates and locks a file from |pathTemplate| (ending in "XXXXXX", as mkostemp takes it). A
// clean-up may remove the file between its creation and its lock; that is noticed and another
// file is made. Failure: an I/O error "<context>: <reason>"; nothing is left behind.
StatusOr<LockedTemporary> CreateLockedTemporary(std::string pathTemplate, std::string_view context);

// Removes the regular files of |folder| whose names |matches| accepts and whose lock can be
// taken, that is, that no live writer holds. Returns how many it removed.
int RemoveUnlockedFiles(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches);

}  // namespace ondavox
