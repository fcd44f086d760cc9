#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondavox {

// The version every shipped program reports with --version.
inline constexpr char kVersion[] = ONDAVOX_VERSION;
// The exit status of a command line that does not parse.
inline constexpr int kUsageExit = 2;

// Transform for a whole-number option: reads it in base 10 ("010" is ten), where CLI11 alone
// would take a leading 0 for octal. Drops the leading zeros; anything else is left to the
// option's own conversion.
inline const CLI::Validator kDecimal(
    [](std::string& input) {
      const std::size_t sign = !input.empty() && (input[0] == '+' || input[0] == '-') ? 1 : 0;
      std::size_t end = sign;
      while (end + 1 < input.size() && input[end] == '0') ++end;
      input.erase(sign, end - sign);
      return std::string();
    },
    "", "DECIMAL");

// A command line for the program |name|: --help and --version, and |description| at the top of
// the help text. Each main adds its own options, then calls ParseCommandLine. A CLI::App can be
// neither copied nor moved, hence the pointer.
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
  } catch (const CLI::RequiredError& error) {
    // A misspelt option also leaves the option it meant missing: name the misspelling.
    const std::vector<std::string> extras = app.remaining();
    if (extras.empty() || app.get_allow_extras()) {
      app.exit(error);
    } else {
      app.exit(CLI::ExtrasError(extras));
    }
    return kUsageExit;
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kUsageExit;
  }
}

}  // namespace ondavox
