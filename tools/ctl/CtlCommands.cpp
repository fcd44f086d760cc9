#include "tools/ctl/CtlCommands.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <sstream>
#include <utility>
#include <vector>

#include "tools/ctl/TextTable.h"

namespace ondavox {
namespace {

using nlohmann::json;

// One column of a table of reply objects: its heading and the field it shows.
struct Column {
  const char* header;
  const char* key;
};

// A field shown in a table or a summary: text as it is, yes/no, numbers, empty for null.
std::string CellText(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_null()) return "";
  return value.dump();
}

// Prints the objects of |items| one per row; with |numbered|, an INDEX column first (0 is the
// first item).
void PrintItems(std::ostream& out, const json& items, const std::vector<Column>& columns,
                bool numbered) {
  std::vector<std::string> headers;
  if (numbered) headers.emplace_back("INDEX");
  for (const Column& column : columns) headers.emplace_back(column.header);
  std::vector<std::vector<std::string>> rows;
  for (const json& item : items) {
    std::vector<std::string>& row = rows.emplace_back();
    if (numbered) row.push_back(std::to_string(rows.size() - 1));
    for (const Column& column : columns) row.push_back(CellText(item.at(column.key)));
  }
  PrintTable(out, headers, rows);
}

// "2 (ann, bob)", or "none".
std::string OnlineText(const json& logins) {
  if (logins.empty()) return "none";
  std::string text = std::to_string(logins.size()) + " (";
  for (const json& login : logins) {
    text += login.get<std::string>() + (&login == &logins.back() ? ")" : ", ");
  }
  return text;
}

// "song.mp3 of root (4194304 bytes): round 2 of 3, 5592405 of 12582912 bytes sent, 400 kbit/s",
// or "none". The bytes sent count every datagram of every round, repair data and headers
// included, so by the end they pass the bytes to send (the size times the rounds) a little.
std::string TransferText(const json& status) {
  const json& transfer = status.at("transfer");
  if (transfer.is_null()) return "none";
  std::ostringstream text;
  text << CellText(transfer.at("file")) << " of " << CellText(transfer.at("owner")) << " ("
       << CellText(transfer.at("size")) << " bytes): round " << CellText(transfer.at("round"))
       << " of " << CellText(status.at("fcastRounds")) << ", " << CellText(transfer.at("bytesSent"))
       << " of " << CellText(transfer.at("bytesToSend")) << " bytes sent, "
       << CellText(status.at("fcastRate")) << " kbit/s";
  return text.str();
}

// "ann, bob", or "none": the |key| of each object of |items| (each item itself when no key).
std::string NamesText(const json& items, const char* key = nullptr) {
  if (items.empty()) return "none";
  std::string text;
  for (const json& item : items) {
    if (!text.empty()) text += ", ";
    text += CellText(key == nullptr ? item : item.at(key));
  }
  return text;
}

// One row per recent transfer: who holds the file, who is online without it.
void PrintDeliveries(const json& deliveries, std::ostream& out) {
  std::vector<std::vector<std::string>> rows;
  for (const json& delivery : deliveries) {
    rows.push_back({CellText(delivery.at("file")), CellText(delivery.at("owner")),
                    NamesText(delivery.at("holders"), "login"),
                    NamesText(delivery.at("onlineWithout"))});
  }
  PrintTable(out, {"FILE", "OWNER", "HELD BY", "ONLINE WITHOUT IT"}, rows);
}

// "clip.avi of root: held by ann, bob; online without it: carol", or "none".
std::string LastDeliveryText(const json& deliveries) {
  if (deliveries.empty()) return "none";
  const json& last = deliveries.front();
  return CellText(last.at("file")) + " of " + CellText(last.at("owner")) + ": held by " +
         NamesText(last.at("holders"), "login") + "; online without it: " +
         NamesText(last.at("onlineWithout"));
}

void PrintStatus(const json& status, std::ostream& out) {
  const auto endpoint = [&](const char* group, const char* port) {
    return status.at(group).get<std::string>() + ":" + CellText(status.at(port));
  };
  PrintTable(out, {},
             {{"Server:", status.at("running").get<bool>() ? "running" : "stopped"},
              {"TCP port:", CellText(status.at("tcpPort"))},
              {"Announcements:", endpoint("multicastGroup", "multicastPort")},
              {"File broadcasts:", endpoint("fcastGroup", "fcastPort") + ", " +
                                       CellText(status.at("fcastRate")) + " kbit/s, " +
                                       CellText(status.at("fcastRounds")) + " rounds"},
              {"Online users:", OnlineText(status.at("online"))},
              {"Playlist:", CellText(status.at("playlistLength")) + " waiting"},
              {"Transfer:", TransferText(status)},
              {"Last delivery:", LastDeliveryText(status.at("deliveries"))}});
  out << "Last log lines:\n";
  for (const json& record : status.at("log")) CtlCommands::PrintLogRecord(record, out);
}

// Shows the reply's "message" when it has one, otherwise the text |confirm| makes of it.
template <class Confirm>
auto Confirmation(Confirm confirm) {
  return [confirm](const json& reply, std::ostream& out) {
    const auto message = reply.find("message");
    out << (message != reply.end() ? message->get<std::string>() : confirm(reply)) << '\n';
  };
}

// Puts |value| into |request| under |key| when the command line gave it.
template <class T>
void Put(json& request, const char* key, const std::optional<T>& value) {
  if (value) request[key] = *value;
}

// A pair of flags, |on| and |off|, that set |target| to true or false; at most one of them.
void AddSwitch(CLI::App& command, const std::string& on, const std::string& off,
               std::optional<bool>& target, const std::string& what) {
  CLI::Option* set = command.add_flag_callback(
      on, [&target] { target = true; }, what);
  CLI::Option* clear = command.add_flag_callback(
      off, [&target] { target = false; }, "not " + what);
  set->excludes(clear);
}

void PrintRunning(const json& reply, std::ostream& out) {
  out << (reply.at("running").get<bool>() ? "Server running." : "Server stopped.") << '\n';
}

}  // namespace

CtlCommands::CtlCommands(CLI::App& app) {
  DefineServer(app);
  DefineUsers(app);
  DefineDocs(app);
  DefinePlaylist(app);
}

Status CtlCommands::PrintReply(const json& reply, std::ostream& out) const {
  std::ostringstream text;
  try {
    printer_(reply, text);
  } catch (const json::exception& error) {
    return Status::InvalidArgument(std::string("unexpected reply: ") + error.what());
  }
  out << text.str();
  return Status();
}

void CtlCommands::PrintLogRecord(const json& record, std::ostream& out) {
  if (const auto dropped = record.find("dropped"); dropped != record.end()) {
    out << "[" << CellText(*dropped) << " lines dropped]\n";
  } else {
    out << CellText(record.value("time", json())) << ' ' << CellText(record.value("text", json()))
        << '\n';
  }
}

void CtlCommands::Choose(json request, Printer printer) {
  request_ = std::move(request);
  printer_ = std::move(printer);
}

void CtlCommands::DefineServer(CLI::App& app) {
  app.add_subcommand("status", "Show whether the server runs, its ports, users and transfer")
      ->callback([this] {
        Choose({{"command", "status"}}, PrintStatus);
      });
  app.add_subcommand("deliveries",
                     "Show who holds each recently sent file and who is online without it")
      ->callback([this] {
        Choose({{"command", "deliveries"}}, [](const json& reply, std::ostream& out) {
          PrintDeliveries(reply.at("deliveries"), out);
        });
      });
  app.add_subcommand("key",
                     "Show the server's public key (the first line, as a client's serverKey "
                     "setting takes it) and its fingerprint")
      ->callback([this] {
        Choose({{"command", "key"}}, [](const json& reply, std::ostream& out) {
          out << reply.at("key").get<std::string>() << '\n'
              << reply.at("fingerprint").get<std::string>() << '\n';
        });
      });
  app.add_subcommand("start", "Start the server")->callback([this] {
    Choose({{"command", "start"}}, PrintRunning);
  });
  app.add_subcommand("stop", "Stop the server")->callback([this] {
    Choose({{"command", "stop"}}, PrintRunning);
  });

  CLI::App* log = app.add_subcommand("log", "Show the last lines of the server's log");
  log->add_option("--lines", lines_, "How many of the last lines")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->capture_default_str();
  log->add_flag("--follow", follow_, "Go on printing lines as the server writes them");
  log->callback([this] {
    Choose({{"command", "log"}, {"lines", lines_}, {"follow", follow_}},
           [](const json& reply, std::ostream& out) {
             for (const json& record : reply.at("log")) PrintLogRecord(record, out);
           });
  });
}

void CtlCommands::DefineUsers(CLI::App& app) {
  app.add_subcommand("users", "List the users")->callback([this] {
    Choose({{"command", "users"}}, [](const json& reply, std::ostream& out) {
      PrintItems(out, reply.at("users"),
                 {{"LOGIN", "login"},
                  {"NAME", "name"},
                  {"LAST NAME", "lastName"},
                  {"ONLINE", "online"},
                  {"BANNED", "banned"},
                  {"IP", "ip"}},
                 false);
    });
  });

  CLI::App* user = app.add_subcommand("user", "Add, change or delete a user");
  user->require_subcommand(1);
  // The fields user add and user set send only when given.
  const auto addFields = [this](CLI::App* command) {
    command->add_option("LOGIN", login_, "The user's login")->required();
    command->add_option("--password", password_, "Password");
    command->add_option("--name", name_, "First name");
    command->add_option("--last-name", lastName_, "Last name");
  };
  const auto userRequest = [this](const char* command) {
    json request{{"command", command}, {"login", login_}};
    Put(request, "password", password_);
    Put(request, "name", name_);
    Put(request, "lastName", lastName_);
    Put(request, "banned", banned_);
    return request;
  };

  CLI::App* add = user->add_subcommand("add", "Add a user");
  addFields(add);
  add->add_flag_callback(
      "--banned", [this] { banned_ = true; }, "Banned from logging in");
  add->callback([this, userRequest] {
    Choose(userRequest("user-add"),
           Confirmation([this](const json&) { return "User " + login_ + " added."; }));
  });

  CLI::App* set = user->add_subcommand("set", "Change the given fields of a user");
  addFields(set);
  AddSwitch(*set, "--banned", "--unbanned", banned_, "banned from logging in");
  set->callback([this, userRequest] {
    Choose(userRequest("user-set"),
           Confirmation([this](const json&) { return "User " + login_ + " changed."; }));
  });

  CLI::App* del = user->add_subcommand("del", "Delete a user");
  del->add_option("LOGIN", login_, "The user's login")->required();
  del->callback([this] {
    Choose({{"command", "user-del"}, {"login", login_}},
           Confirmation([this](const json&) { return "User " + login_ + " deleted."; }));
  });
}

void CtlCommands::DefineDocs(CLI::App& app) {
  app.add_subcommand("docs", "List the documents")->callback([this] {
    Choose({{"command", "docs"}}, [](const json& reply, std::ostream& out) {
      PrintItems(out, reply.at("documents"),
                 {{"FILE", "file"},
                  {"OWNER", "owner"},
                  {"DESCRIPTION", "description"},
                  {"TYPE", "mimeType"},
                  {"STREAMABLE", "streamable"},
                  {"PERSISTING", "persisting"},
                  {"PATH", "path"}},
                 false);
    });
  });

  CLI::App* doc = app.add_subcommand("doc", "Add, change or delete a document");
  doc->require_subcommand(1);

  CLI::App* add = doc->add_subcommand("add", "Add a file as a document");
  add->add_option("PATH", file_, "The file, as this folder sees it")->required();
  add->add_option("--description", description_, "What the document is")->required();
  add->add_flag_callback(
      "--streamable", [this] { streamable_ = true; }, "Can be streamed");
  add->add_flag_callback(
      "--no-persisting", [this] { persisting_ = false; }, "Not kept by the clients");
  add->callback([this] {
    // The server runs in a folder of its own.
    json request{{"command", "doc-add"},
                 {"path", std::filesystem::absolute(file_).lexically_normal().string()}};
    Put(request, "description", description_);
    Put(request, "streamable", streamable_);
    Put(request, "persisting", persisting_);
    Choose(std::move(request), Confirmation([](const json& reply) {
             return "Document " + reply.at("file").get<std::string>() + " of " +
                    reply.at("owner").get<std::string>() + " added.";
           }));
  });

  CLI::App* set = doc->add_subcommand("set", "Change the given fields of a document");
  set->add_option("FILE", file_, "The document's file name")->required();
  set->add_option("--owner", docOwner_, "The document's owner (root when not given)");
  set->add_option("--description", description_, "What the document is");
  AddSwitch(*set, "--streamable", "--not-streamable", streamable_, "can be streamed");
  AddSwitch(*set, "--persisting", "--no-persisting", persisting_, "kept by the clients");
  set->callback([this] {
    json request{{"command", "doc-set"}, {"file", file_}};
    Put(request, "owner", docOwner_);
    Put(request, "description", description_);
    Put(request, "streamable", streamable_);
    Put(request, "persisting", persisting_);
    Choose(std::move(request),
           Confirmation([this](const json&) { return "Document " + file_ + " changed."; }));
  });

  CLI::App* del = doc->add_subcommand("del", "Delete a document");
  del->add_option("FILE", file_, "The document's file name")->required();
  del->add_option("--owner", docOwner_, "The document's owner (root when not given)");
  del->callback([this] {
    json request{{"command", "doc-del"}, {"file", file_}};
    Put(request, "owner", docOwner_);
    Choose(std::move(request),
           Confirmation([this](const json&) { return "Document " + file_ + " deleted."; }));
  });
}

void CtlCommands::DefinePlaylist(CLI::App& app) {
  CLI::App* enqueue = app.add_subcommand("enqueue", "Add a document to the end of the playlist");
  enqueue->add_option("FILE", file_, "The document's file name")->required();
  enqueue->add_option("OWNER", owner_, "The document's owner")->capture_default_str();
  enqueue->callback([this] {
    Choose({{"command", "enqueue"}, {"file", file_}, {"owner", owner_}},
           Confirmation([this](const json& reply) {
             return file_ + " of " + owner_ + " queued at index " + CellText(reply.at("position")) +
                    ".";
           }));
  });

  CLI::App* playlist =
      app.add_subcommand("playlist", "List the playlist, or move or remove an entry");
  playlist->require_subcommand(0, 1);
  playlist->callback([this, playlist] {
    if (!playlist->get_subcommands().empty()) return;
    Choose({{"command", "playlist"}}, [](const json& reply, std::ostream& out) {
      PrintItems(out, reply.at("playlist"),
                 {{"FILE", "file"}, {"OWNER", "owner"}, {"DESCRIPTION", "description"}}, true);
    });
  });
  // up, down and del: one entry by its index.
  const auto defineMove = [this, playlist](const char* name, const char* help, const char* command,
                                           bool moves) {
    CLI::App* move = playlist->add_subcommand(name, help);
    move->add_option("INDEX", index_, "The entry's index (0 is the first)")
        ->required()
        ->check(CLI::Range(0, std::numeric_limits<int>::max()));
    move->callback([this, command, moves] {
      Choose({{"command", command}, {"index", index_}},
             Confirmation([this, moves](const json& reply) {
               return moves ? "Entry now at index " + CellText(reply.at("index")) + "."
                            : "Entry " + std::to_string(index_) + " removed.";
             }));
    });
  };
  defineMove("up", "Move an entry one place towards the first", "playlist-up", true);
  defineMove("down", "Move an entry one place towards the last", "playlist-down", true);
  defineMove("del", "Remove an entry", "playlist-del", false);
}

}  // namespace ondavox
