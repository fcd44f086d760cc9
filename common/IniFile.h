#pragma once

#include <string>
#include <string_view>

#include "platform/AtomicFile.h"

namespace ondavox {

// Reads and writes one INI settings file (server.ini, client.ini) with the semantics the
// programs rely on:
// - section and key names match without regard to case;
// - a missing file reads as empty, a section without any key counts as absent;
// - Read returns at most kMaxValue characters of a value (the rest is cut);
// - Write creates the file, the section and the key as needed, keeps every other line of the
//   file (comments included), and replaces the file atomically at once.
// The file is read again at each call, and a relative name is resolved against the current
// directory at that time. Failures are not reported beyond Write's result.
//
// Any thread: writes from all IniFile objects of the process are serialised.
class IniFile {
 public:
  static constexpr std::size_t kMaxValue = 254;

  // |access|: who may read the file once written (client.ini holds a password).
  explicit IniFile(std::string fileName, FileAccess access = FileAccess::kShared)
      : fileName_(std::move(fileName)), access_(access) {}

  const std::string& fileName() const { return fileName_; }

  bool HasSection(std::string_view section) const;
  std::string Read(std::string_view section, std::string_view key) const;
  bool Write(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::string fileName_;
  FileAccess access_;
};

}  // namespace ondavox
