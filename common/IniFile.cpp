#include "common/IniFile.h"

// The Debian header keeps the template bodies behind SI_IMPLEMENTATION; this is their one user.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "platform/AtomicFile.h"
#include "platform/Mutex.h"

namespace ondavox {
namespace {

Mutex& WriteMutex() {
  static Mutex mu;
  return mu;
}

// Loads the file; a missing or unreadable file gives an empty document.
void Load(CSimpleIniA& ini, const std::string& fileName) {
  ini.SetUnicode(false);
  ini.SetMultiKey(false);
  ini.SetQuotes(false);
  ini.SetSpaces(false);
  ini.LoadFile(fileName.c_str());
}

// The library separates sections with a blank line; the programs' files run one section after
// another, every line a section, a key=value or a comment.
std::string WithoutBlankLines(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!line.empty()) {
      kept += line;
      kept += '\n';
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return kept;
}

}  // namespace

bool IniFile::HasSection(std::string_view section) const {
  CSimpleIniA ini;
  Load(ini, fileName_);
  return ini.GetSectionSize(std::string(section).c_str()) > 0;
}

std::string IniFile::Read(std::string_view section, std::string_view key) const {
  CSimpleIniA ini;
  Load(ini, fileName_);
  const char* value = ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), "");
  std::string text = value != nullptr ? value : "";
  if (text.size() > kMaxValue) text.resize(kMaxValue);
  return text;
}

bool IniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  MutexLock lock(WriteMutex());
  CSimpleIniA ini;
  Load(ini, fileName_);
  const std::string sectionName(section), keyName(key), text(value);
  if (ini.SetValue(sectionName.c_str(), keyName.c_str(), text.c_str()) < 0) return false;
  std::string bytes;
  if (ini.Save(bytes) < 0) return false;
  return WriteFileAtomically(fileName_, WithoutBlankLines(bytes), access_).ok();
}

}  // namespace ondavox
