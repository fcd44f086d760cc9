#pragma once

#include <string>
#include <string_view>

#include "platform/Status.h"

namespace ondavox {

// Who may read a file written by WriteFileAtomically.
enum class FileAccess {
  kShared,     // a new file gets 0666 less the umask, an existing one keeps its mode
  kOwnerOnly,  // 0600, also for an existing file (its mode is tightened): passwords, keys
};

// Replaces the file at |path| with |bytes| so that the path always names either the whole old
// content or the whole new content, whatever happens during the write (crash, full disk): the
// bytes go to a temporary file in the same directory, are flushed to disk, and the temporary
// file is renamed over |path|, with the mode |access| gives. On failure the old file is untouched, the temporary file is removed, and
// the I/O error returned says what failed ("cannot write <path>: <reason>"). The temporary file
// is locked (flock) while it is written. Any thread; concurrent writers of one path must be
// serialised by their caller.
Status WriteFileAtomically(const std::string& path, std::string_view bytes,
                           FileAccess access = FileAccess::kShared);

// Removes the temporary files that writers of |path| killed during a write left beside it
// ("<path>.XXXXXX"), skipping any that a live writer holds locked. Returns how many it removed.
// Meant for start-up, before this process writes |path|.
int RemoveStaleTemporaries(const std::string& path);

}  // namespace ondavox
