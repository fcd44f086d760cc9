#include "server/app/ServerConfig.h"

#include <netinet/in.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

#include "common/Defaults.h"
#include "common/LenientInteger.h"
#include "platform/CurrentDirectory.h"
#include "platform/Ipv4Endpoint.h"

namespace ondavox::server {
// One setting: where it lives in the file, the field that holds it, its default (as text, made
// from the current directory) and what an empty or missing key means.
struct ServerConfig::Key {
  using TextField = std::string ServerConfig::*;
  using IntegerField = int32_t ServerConfig::*;

  enum class Kind {
    kDefaulted,  // an empty or zero value takes the default
    kKeptEmpty,  // a text whose key is present but empty stays empty
    kOptional,   // a text that is empty unless set; written only when set
  };

  std::string_view section;
  std::string_view name;
  std::variant<TextField, IntegerField> field;
  std::string (*makeDefault)(const std::string& currentDirectory);
  Kind kind = Kind::kDefaulted;
};

namespace {

std::string NoDefault(const std::string&) { return std::string(); }

Status CheckInterface(std::string_view setting, const std::string& text) {
  if (text.empty()) return Status();
  const std::optional<Ipv4Endpoint> address = Ipv4Endpoint::Parse(text, 0);
  if (!address) {
    return Status::InvalidArgument(std::string(setting) + ": " + text +
                                   " is not an IPv4 address");
  }
  const std::vector<in_addr_t> local = Ipv4Endpoint::HostAddresses();
  if (std::find(local.begin(), local.end(), address->Address()) == local.end()) {
    return Status::InvalidArgument(std::string(setting) + ": " + text +
                                   " is not an address of this host");
  }
  return Status();
}

}  // namespace

// Table order is the order of loading, of writing a missing section and of saving.
const ServerConfig::Key ServerConfig::kKeys[] = {
    {"Server", "path", &ServerConfig::path, [](const std::string& d) { return d; }},
    {"Server", "clientDatabase", &ServerConfig::clientDatabase,
     [](const std::string& d) { return d + "/UserDB.dat"; }},
    {"Server", "documentDatabase", &ServerConfig::documentDatabase,
     [](const std::string& d) { return d + "/DocumentDB.dat"; }},
    {"Server", "documentPath", &ServerConfig::documentPath, &ServerConfig::DefaultDocumentPath},
    {"TCP", "Port", &ServerConfig::Port,
     [](const std::string&) { return std::to_string(kDefaultTcpPort); }},
    {"UDP", "MulticastPort", &ServerConfig::MulticastPort,
     [](const std::string&) { return std::to_string(kDefaultAnnouncementPort); }},
    {"UDP", "MulticastIP", &ServerConfig::MulticastIP,
     [](const std::string&) { return std::string(kDefaultAnnouncementGroup); },
     Key::Kind::kKeptEmpty},
    {"UDP", "Interface", &ServerConfig::MulticastInterface, &NoDefault, Key::Kind::kOptional},
    {"Fcast", "FcastRound", &ServerConfig::FcastRound,
     [](const std::string&) { return std::to_string(kDefaultFcastRounds); }},
    {"Fcast", "FcastIP", &ServerConfig::FcastIP,
     [](const std::string&) { return std::string(kDefaultFcastGroup); }},
    {"Fcast", "FcastPort", &ServerConfig::FcastPort,
     [](const std::string&) { return std::to_string(kDefaultFcastPort); }},
    {"Fcast", "FcastRate", &ServerConfig::FcastRate,
     [](const std::string&) { return std::to_string(kDefaultFcastRate); }},
    {"Fcast", "Interface", &ServerConfig::FcastInterface, &NoDefault, Key::Kind::kOptional},
};

ServerConfig::ServerConfig(std::string fileName)
    : ServerConfig(std::move(fileName), CurrentDirectory()) {}

ServerConfig::ServerConfig(std::string fileName, std::string currentDirectory)
    : ini_(std::move(fileName)) {
  Load(currentDirectory);
}

void ServerConfig::Load(const std::string& currentDirectory) {
  for (auto section = std::begin(kKeys); section != std::end(kKeys);) {
    const auto sectionEnd = std::find_if(
        section, std::end(kKeys), [&](const Key& key) { return key.section != section->section; });
    const bool present = ini_.HasSection(section->section);
    for (auto key = section; key != sectionEnd; ++key) {
      std::string text = present ? ini_.Read(key->section, key->name) : std::string();
      if (!present && key->kind != Key::Kind::kOptional) {
        ini_.Write(key->section, key->name, key->makeDefault(currentDirectory));
      }
      std::visit(
          [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), Key::TextField>) {
              if (text.empty() && (key->kind != Key::Kind::kKeptEmpty || !present)) {
                text = key->makeDefault(currentDirectory);
              }
              this->*field = std::move(text);
            } else {
              int32_t value = LenientInteger(text);
              if (value == 0) value = LenientInteger(key->makeDefault(currentDirectory));
              this->*field = value;
            }
          },
          key->field);
    }
    section = sectionEnd;
  }
  if (ini_.HasSection("Limits")) {
    MaxConnections = LenientInteger(ini_.Read("Limits", "MaxConnections"));
    MaxUnauthenticated = LenientInteger(ini_.Read("Limits", "MaxUnauthenticated"));
    LoginTimeout = LenientInteger(ini_.Read("Limits", "LoginTimeout"));
  }
}

Status ServerConfig::CheckInterfaces() const {
  Status status = CheckInterface("[UDP] Interface", MulticastInterface);
  if (status.ok()) status = CheckInterface("[Fcast] Interface", FcastInterface);
  return status;
}

bool ServerConfig::Save() {
  bool ok = true;
  for (const Key& key : kKeys) {
    const std::string text = std::visit(
        [this](auto field) -> std::string {
          if constexpr (std::is_same_v<decltype(field), Key::TextField>) {
            return this->*field;
          } else {
            return std::to_string(this->*field);
          }
        },
        key.field);
    if (key.kind == Key::Kind::kOptional && text.empty()) continue;
    ok = ini_.Write(key.section, key.name, text) && ok;
  }
  return ok;
}

}  // namespace ondavox::server
