#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "platform/Status.h"

namespace ondavox {

// The commands of ondavoxctl (status, users, user add, doc set, playlist up, log ...). The
// constructor defines them as subcommands of the program's command line; once that line has
// parsed, this holds the request the chosen command sends and shows the reply to it in readable
// form. Owns the values the command-line options write into, so it stays where it was built.
// The main thread only.
class CtlCommands {
 public:
  explicit CtlCommands(CLI::App& app);
  CtlCommands(const CtlCommands&) = delete;
  CtlCommands& operator=(const CtlCommands&) = delete;

  // The request of the chosen command. REQUIRES: the command line parsed.
  const nlohmann::json& request() const { return request_; }
  // Whether the server goes on sending log records after the reply (log --follow).
  bool follows() const { return follow_; }
  // Prints the successful |reply| to the chosen command for a person. An error, with nothing
  // printed, when the reply lacks a field this shows or holds one of another type.
  Status PrintReply(const nlohmann::json& reply, std::ostream& out) const;

  // Prints one record of a followed log: "TIME TEXT", or "[N lines dropped]". A field that is
  // missing prints as empty.
  static void PrintLogRecord(const nlohmann::json& record, std::ostream& out);

 private:
  using Printer = std::function<void(const nlohmann::json& reply, std::ostream& out)>;
  // Makes the chosen command send |request| and show its reply with |printer|.
  void Choose(nlohmann::json request, Printer printer);

  void DefineUsers(CLI::App& app);
  void DefineDocs(CLI::App& app);
  void DefinePlaylist(CLI::App& app);
  void DefineServer(CLI::App& app);

  nlohmann::json request_;
  Printer printer_;
  bool follow_ = false;

  // What the options and positionals of the chosen command hold.
  std::string login_;
  std::string file_;
  std::string owner_ = "root";
  std::optional<std::string> password_;
  std::optional<std::string> name_;
  std::optional<std::string> lastName_;
  std::optional<std::string> description_;
  std::optional<std::string> docOwner_;
  std::optional<bool> banned_;
  std::optional<bool> streamable_;
  std::optional<bool> persisting_;
  int index_ = 0;
  int lines_ = 20;
};

}  // namespace ondavox
