#include "common/HelpFile.h"

#include <system_error>

namespace ondavox {

std::filesystem::path FindHelpFile(std::string_view name,
                                   const std::filesystem::path& startDirectory,
                                   const std::filesystem::path& programDirectory) {
  const std::filesystem::path beside = startDirectory / name;
  std::error_code error;
  if (std::filesystem::is_regular_file(beside, error) || programDirectory.empty()) return beside;
  const std::filesystem::path shared =
      programDirectory.parent_path() / "share" / "ondavox" / "help" / name;
  return std::filesystem::is_regular_file(shared, error) ? shared : beside;
}

std::filesystem::path ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : executable.parent_path();
}

}  // namespace ondavox
