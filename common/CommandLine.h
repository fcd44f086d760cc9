#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

namespace ondavox {

// The version every shipped program reports with --version.
inline constexpr char kVersion[] = ONDAVOX_VERSION;
// The exit status of a command line that does not parse.
inline constexpr int kUsageExit = 2;

// A command line for the program |name|: --help and --version, and |description| at the top of
// the help text. Each main adds its own options, then calls ParseCommandLine. On the heap since
// a CLI::App can be neither copied nor moved.
inline std::unique_ptr<CLI::App> MakeCommandLine(const std::string& description,
                                                 const std::string& name) {
  auto app = std::make_unique<CLI::App>(description, name);
  app->set_version_flag("--version", name + " " + kVersion);
  return app;
}

// Parses argv into |app|. Nothing when the program is to go on; otherwise the status to exit
// with: 0 after --help or --version (printed on the standard output), kUsageExit after a
// usage error (the parser's message and a hint on the standard error).
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kUsageExit;
  }
}

}  // namespace ondavox
