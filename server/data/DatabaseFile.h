#pragma once

#include <optional>
#include <string>

#include "platform/Status.h"

namespace ondavox::server {

// Reads the whole database file at |path| into |bytes|. A missing file is not an error and
// leaves |bytes| empty (no value); a file that exists but cannot be read is an I/O error, so
// that a later save never replaces stored records that were not loaded. Any thread.
Status ReadDatabaseFile(const std::string& path, std::optional<std::string>* bytes);

}  // namespace ondavox::server
