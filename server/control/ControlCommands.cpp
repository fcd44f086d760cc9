#include "server/control/ControlCommands.h"

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "server/app/COndavoxDoc.h"

namespace ondavox::server {
namespace {

using nlohmann::json;

constexpr std::size_t kDefaultLogLines = 20;
constexpr char kDefaultOwner[] = "root";

// A request that cannot be carried out as written; its text is the error reply's.
struct BadRequest {
  std::string text;
};

// The typed fields of one request object.
class Fields {
 public:
  explicit Fields(const json& request) : request_(request) {}

  std::string Text(const char* key) const {
    std::optional<std::string> value = OptionalText(key);
    if (!value) throw BadRequest{std::string("missing field: ") + key};
    return *value;
  }
  std::optional<std::string> OptionalText(const char* key) const {
    return Optional<std::string>(key, &json::is_string, "a string");
  }
  std::optional<bool> OptionalFlag(const char* key) const {
    return Optional<bool>(key, &json::is_boolean, "a boolean");
  }
  std::optional<long long> OptionalNumber(const char* key) const {
    return Optional<long long>(key, &json::is_number_integer, "a whole number");
  }
  int Index(const char* key) const {
    std::optional<long long> value = OptionalNumber(key);
    if (!value) throw BadRequest{std::string("missing field: ") + key};
    if (*value < 0 || *value > INT32_MAX) {
      throw BadRequest{std::string("field ") + key + " is out of range"};
    }
    return static_cast<int>(*value);
  }
  std::string Owner() const { return OptionalText("owner").value_or(kDefaultOwner); }

 private:
  template <class T>
  std::optional<T> Optional(const char* key, bool (json::*is)() const noexcept,
                            const char* kind) const {
    const auto found = request_.find(key);
    if (found == request_.end() || found->is_null()) return std::nullopt;
    if (!((*found).*is)()) throw BadRequest{std::string("field ") + key + " must be " + kind};
    return found->get<T>();
  }

  const json& request_;
};

json Done(json fields = json::object()) {
  fields["ok"] = true;
  return fields;
}

json Outcome(const Status& status, json fields = json::object()) {
  return status.ok() ? Done(std::move(fields)) : ControlCommands::Error(status.message());
}

json DocumentObject(const CDocInfo& document) {
  return {{"file", document.fileName()},
          {"owner", document.owner()},
          {"path", document.path()},
          {"description", document.description()},
          {"mimeType", document.mimeType()},
          {"streamable", document.streamable() == 1},
          {"persisting", document.persisting() == 1}};
}

json DeliveryObjects(const std::vector<ServerAdministration::DeliveryRow>& rows) {
  json all = json::array();
  for (const ServerAdministration::DeliveryRow& row : rows) {
    json holders = json::array();
    for (const DeliveryLedger::Holder& holder : row.transfer.holders) {
      holders.push_back({{"login", holder.login}, {"time", LogHistory::LocalTime(holder.when)}});
    }
    all.push_back({{"file", row.transfer.entry.fileName()},
                   {"owner", row.transfer.entry.owner()},
                   {"size", row.transfer.size},
                   {"holders", holders},
                   {"onlineWithout", row.onlineWithout}});
  }
  return all;
}

json LogLines(const std::vector<LogHistory::Line>& lines) {
  json all = json::array();
  for (const LogHistory::Line& line : lines) all.push_back(ControlCommands::LogLine(line));
  return all;
}

}  // namespace

ControlCommands::ControlCommands(COndavoxDoc& document, ServerSwitch serverSwitch)
    : document_(document), switch_(std::move(serverSwitch)) {}

json ControlCommands::Error(std::string text) { return {{"ok", false}, {"error", std::move(text)}}; }

json ControlCommands::LogLine(const LogHistory::Line& line) {
  return {{"time", line.time}, {"text", line.text}};
}

std::optional<std::size_t> ControlCommands::FollowRequest(const json& request) {
  if (request.value("command", json()) != "log" ||
      request.value("follow", json()) != true) {
    return std::nullopt;
  }
  const json lines = request.value("lines", json(kDefaultLogLines));
  if (!lines.is_number_unsigned()) return std::nullopt;  // Handle names the fault
  return lines.get<std::size_t>();
}

json ControlCommands::LogReply(const std::vector<LogHistory::Line>& last) {
  return Done({{"log", LogLines(last)}});
}

std::string ControlCommands::Serialize(const json& reply) {
  return reply.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json ControlCommands::Parse(std::string_view line, json* error) {
  json request;
  try {
    request = json::parse(line);
  } catch (const json::parse_error& failure) {
    *error = Error(std::string("not JSON: ") + failure.what());
    return nullptr;
  }
  if (request.is_object()) return request;
  *error = Error("not an object");
  return nullptr;
}

json ControlCommands::Handle(const json& request) const {
  try {
    return Dispatch(request);
  } catch (const BadRequest& bad) {
    return Error(bad.text);
  }
}

json ControlCommands::Dispatch(const json& request) const {
  const Fields fields(request);
  const std::string command = fields.Text("command");
  ServerAdministration admin(document_);

  if (command == "status") {
    const ServerAdministration::Snapshot snapshot = admin.GetSnapshot();
    json transfer = nullptr;
    if (snapshot.transfer) {
      transfer = {{"file", snapshot.transfer->entry.fileName()},
                  {"owner", snapshot.transfer->entry.owner()},
                  {"size", snapshot.transfer->fileSize},
                  {"bytesSent", snapshot.transfer->bytesSent},
                  {"bytesToSend", snapshot.transfer->fileSize * snapshot.transfer->rounds},
                  {"round", snapshot.transfer->round}};
    }
    return Done({{"running", snapshot.running},
                 {"tcpPort", snapshot.tcpPort},
                 {"multicastGroup", snapshot.multicastGroup},
                 {"multicastPort", snapshot.multicastPort},
                 {"fcastGroup", snapshot.fcastGroup},
                 {"fcastPort", snapshot.fcastPort},
                 {"fcastRate", snapshot.fcastRate},
                 {"fcastRounds", snapshot.fcastRounds},
                 {"online", snapshot.online},
                 {"playlistLength", snapshot.playlistLength},
                 {"transfer", transfer},
                 {"deliveries", DeliveryObjects(admin.Deliveries())},
                 {"log", LogLines(document_.logHistory().Last(kDefaultLogLines))}});
  }
  if (command == "deliveries") return Done({{"deliveries", DeliveryObjects(admin.Deliveries())}});
  if (command == "users") {
    json users = json::array();
    for (const ServerAdministration::UserRow& user : admin.ListUsers()) {
      users.push_back({{"login", user.login},
                       {"name", user.name},
                       {"lastName", user.lastName},
                       {"online", user.online},
                       {"banned", user.banned},
                       {"ip", user.ip}});
    }
    return Done({{"users", users}});
  }
  if (command == "user-add") {
    return Outcome(admin.AddUser(fields.Text("login"), fields.OptionalText("password").value_or(""),
                                 fields.OptionalText("name").value_or(""),
                                 fields.OptionalText("lastName").value_or(""),
                                 fields.OptionalFlag("banned").value_or(false)));
  }
  if (command == "user-set") {
    ServerAdministration::UserChange change;
    change.password = fields.OptionalText("password");
    change.name = fields.OptionalText("name");
    change.lastName = fields.OptionalText("lastName");
    change.banned = fields.OptionalFlag("banned");
    return Outcome(admin.ChangeUser(fields.Text("login"), change));
  }
  if (command == "user-del") {
    const std::string login = fields.Text("login");
    return Outcome(admin.DeleteUser(login),
                   {{"message", ServerAdministration::UserDeletedText(login)}});
  }
  if (command == "docs") {
    json documents = json::array();
    for (const CDocInfo& document : admin.ListDocuments()) {
      documents.push_back(DocumentObject(document));
    }
    return Done({{"documents", documents}});
  }
  if (command == "doc-add") {
    ServerAdministration::NewDocument document;
    document.path = fields.Text("path");
    document.description = fields.OptionalText("description").value_or("");
    document.streamable = fields.OptionalFlag("streamable").value_or(false);
    document.persisting = fields.OptionalFlag("persisting").value_or(true);
    const StatusOr<CDocInfo> added = admin.AddDocument(document);
    if (!added.ok()) return Error(added.status().message());
    return Done({{"file", added->fileName()}, {"owner", added->owner()}});
  }
  if (command == "doc-set") {
    ServerAdministration::DocumentChange change;
    change.description = fields.OptionalText("description");
    change.streamable = fields.OptionalFlag("streamable");
    change.persisting = fields.OptionalFlag("persisting");
    return Outcome(admin.ChangeDocument(fields.Owner(), fields.Text("file"), change));
  }
  if (command == "doc-del") {
    return Outcome(admin.DeleteDocument(fields.Owner(), fields.Text("file")));
  }
  if (command == "playlist") {
    json entries = json::array();
    for (const CDocInfo& entry : admin.ListPlaylist()) {
      entries.push_back({{"file", entry.fileName()},
                         {"owner", entry.owner()},
                         {"description", entry.description()}});
    }
    return Done({{"playlist", entries}});
  }
  if (command == "enqueue") {
    const StatusOr<CDocInfo> document = admin.FindDocument(fields.Owner(), fields.Text("file"));
    if (!document.ok()) return Error(document.status().message());
    return Done({{"position", admin.Enqueue(*document)}});
  }
  if (command == "playlist-up" || command == "playlist-down") {
    const StatusOr<int> moved =
        admin.MoveEntry(fields.Index("index"), command == "playlist-up" ? 1 : -1);
    if (!moved.ok()) return Error(moved.status().message());
    return Done({{"index", *moved}});
  }
  if (command == "playlist-del") return Outcome(admin.RemoveEntry(fields.Index("index")));
  if (command == "start" || command == "stop") {
    const Status switched = command == "start" ? switch_.start() : switch_.stop();
    return Outcome(switched, {{"running", document_.IsRunning()}});
  }
  if (command == "key") {
    const StatusOr<ServerKey> key = document_.Key();
    if (!key.ok()) return Error(key.status().message());
    return Done({{"key", key->PublicKeyText()}, {"fingerprint", key->Fingerprint()}});
  }
  if (command == "log") {
    const long long lines =
        fields.OptionalNumber("lines").value_or(static_cast<long long>(kDefaultLogLines));
    if (lines < 0) throw BadRequest{"field lines is out of range"};
    (void)fields.OptionalFlag("follow");
    return LogReply(document_.logHistory().Last(static_cast<std::size_t>(lines)));
  }
  return Error("unknown command: " + command);
}

}  // namespace ondavox::server
