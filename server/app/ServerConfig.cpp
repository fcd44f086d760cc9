#include "server/app/ServerConfig.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <variant>

#include "common/Defaults.h"
#include "common/LenientInteger.h"
#include "platform/CurrentDirectory.h"

namespace ondavox::server {
// One setting: where it lives in the file, the field that holds it and its default (as text,
// made from the current directory). |emptyTakesDefault| is false for the one text that stays
// empty when its key is present but empty.
struct ServerConfig::Key {
  using TextField = std::string ServerConfig::*;
  using IntegerField = int32_t ServerConfig::*;

  std::string_view section;
  std::string_view name;
  std::variant<TextField, IntegerField> field;
  std::string (*makeDefault)(const std::string& currentDirectory);
  bool emptyTakesDefault = true;
};

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
     [](const std::string&) { return std::string(kDefaultAnnouncementGroup); }, false},
    {"Fcast", "FcastRound", &ServerConfig::FcastRound,
     [](const std::string&) { return std::to_string(kDefaultFcastRounds); }},
    {"Fcast", "FcastIP", &ServerConfig::FcastIP,
     [](const std::string&) { return std::string(kDefaultFcastGroup); }},
    {"Fcast", "FcastPort", &ServerConfig::FcastPort,
     [](const std::string&) { return std::to_string(kDefaultFcastPort); }},
    {"Fcast", "FcastRate", &ServerConfig::FcastRate,
     [](const std::string&) { return std::to_string(kDefaultFcastRate); }},
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
      if (!present) ini_.Write(key->section, key->name, key->makeDefault(currentDirectory));
      std::visit(
          [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), Key::TextField>) {
              if (text.empty() && (key->emptyTakesDefault || !present)) {
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
    ok = ini_.Write(key.section, key.name, text) && ok;
  }
  return ok;
}

}  // namespace ondavox::server
