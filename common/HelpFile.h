#pragma once

#include <filesystem>
#include <string_view>

namespace ondavox {

// Finds a program's help file (Server.hlp, Client.hlp). Looked for, in order: in the start
// directory (a help file put beside the settings), then in share/ondavox/help beside the
// program's own folder, which is where the installed tree and the build tree keep it. When
// neither exists the start-directory path is returned, for the caller to report. Any thread.
std::filesystem::path FindHelpFile(std::string_view name,
                                   const std::filesystem::path& startDirectory,
                                   const std::filesystem::path& programDirectory);

// The folder of the running executable, or the empty path when the system cannot tell it.
std::filesystem::path ProgramDirectory();

}  // namespace ondavox
