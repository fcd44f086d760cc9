#include "client/core/ClientConfig.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <variant>

#include "common/Defaults.h"
#include "common/LenientInteger.h"
#include "platform/AtomicFile.h"
#include "platform/CurrentDirectory.h"

namespace ondavox::client {
namespace {

constexpr std::string_view kServer = "Server";
constexpr std::string_view kUser = "User";
constexpr std::string_view kFileasso = "Fileasso";

// One key of client.ini. A text read empty, or a number read as 0, takes the default, which is
// also what a missing section is written with.
struct Setting {
  std::string_view section;
  std::string_view key;
  std::variant<std::string ClientConfig::*, int ClientConfig::*> field;
  std::string (*fallback)(const ClientConfig&);
  // Written by Save; otherwise only by whoever owns the value (the pin of the server's key).
  bool saved = true;
};

template <const auto& kValue>
std::string Fixed(const ClientConfig&) {
  if constexpr (std::is_arithmetic_v<std::remove_cvref_t<decltype(kValue)>>) {
    return std::to_string(kValue);
  } else {
    return std::string(kValue);
  }
}

constexpr char kLocalhost[] = "127.0.0.1";
constexpr char kZero[] = "0";
constexpr char kNone[] = "";
constexpr std::string_view kServerKeyName = "serverKey";
// The default login and the default password are one and the same text.
constexpr char kUserName[] = "brackenly";

std::string DownloadFallback(const ClientConfig& config) { return config.defaultDownloadDirectory; }

// In the order the program writes them.
const Setting kSettings[] = {
    {kServer, "serverIP", &ClientConfig::serverIP, Fixed<kLocalhost>},
    {kServer, "serverPort", &ClientConfig::serverPort, Fixed<kDefaultTcpPort>},
    {kServer, "serverMulticastPort", &ClientConfig::serverMulticastPort,
     Fixed<kDefaultAnnouncementPort>},
    {kServer, "serverGroup", &ClientConfig::serverGroup, Fixed<kDefaultAnnouncementGroup>},
    {kServer, "downloadDirectory", &ClientConfig::downloadDirectory, DownloadFallback},
    {kServer, kServerKeyName, &ClientConfig::serverKey, Fixed<kNone>, /*saved=*/false},
    {kUser, "login", &ClientConfig::login, Fixed<kUserName>},
    {kUser, "pass", &ClientConfig::pass, Fixed<kUserName>},
    {kFileasso, "nbext", &ClientConfig::nbext, Fixed<kZero>},
};

// Sets the field from the text read (or the default's text), applying the default's rule.
void Assign(ClientConfig& config, const Setting& setting, const std::string& text) {
  std::visit(
      [&](auto member) {
        using Value = std::remove_cvref_t<decltype(config.*member)>;
        if constexpr (std::is_same_v<Value, int>) {
          int value = LenientInteger(text);
          if (value == 0) value = LenientInteger(setting.fallback(config));
          config.*member = value;
        } else {
          config.*member = text.empty() ? setting.fallback(config) : text;
        }
      },
      setting.field);
}

std::string TextOf(const ClientConfig& config, const Setting& setting) {
  return std::visit(
      [&](auto member) -> std::string {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(config.*member)>, int>) {
          return std::to_string(config.*member);
        } else {
          return config.*member;
        }
      },
      setting.field);
}

std::string ExtKey(std::size_t k) { return "ext" + std::to_string(k); }
std::string ExeKey(std::size_t k) { return "exe" + std::to_string(k); }

}  // namespace

ClientConfig::ClientConfig(std::string path)
    : iniPath(std::move(path)),
      ini(iniPath, FileAccess::kOwnerOnly),  // it holds the user's password
      defaultDownloadDirectory(CurrentDirectory() + "/download/") {
  Load();
}

void ClientConfig::Load() {
  RemoveStaleTemporaries(iniPath);  // left by a save that was killed half-way
  for (std::string_view section : {kServer, kUser, kFileasso}) {
    const bool present = ini.HasSection(section);
    for (const Setting& setting : kSettings) {
      if (setting.section != section) continue;
      if (present) {
        Assign(*this, setting, ini.Read(setting.section, setting.key));
      } else {
        Assign(*this, setting, setting.fallback(*this));
        ini.Write(setting.section, setting.key, TextOf(*this, setting));
      }
    }
  }
  associations.clear();
  const int count = std::min(nbext, kMaxAssociations);
  for (int k = 1; k <= count; ++k) {
    const auto n = static_cast<std::size_t>(k);
    associations.push_back({ini.Read(kFileasso, ExtKey(n)), ini.Read(kFileasso, ExeKey(n))});
  }
  nbext = static_cast<int>(associations.size());
}

void ClientConfig::Save() {
  nbext = static_cast<int>(associations.size());
  for (const Setting& setting : kSettings) {
    if (setting.saved) ini.Write(setting.section, setting.key, TextOf(*this, setting));
  }
  for (std::size_t k = 1; k <= associations.size(); ++k) {
    ini.Write(kFileasso, ExtKey(k), associations[k - 1].extension);
    ini.Write(kFileasso, ExeKey(k), associations[k - 1].program);
  }
}

std::function<bool(const std::string&)> ClientConfig::PinWriter() const {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(iniPath, error);
  if (error) path = iniPath;
  return [file = IniFile(path.string(), FileAccess::kOwnerOnly)](const std::string& text) mutable {
    return file.Write(kServer, kServerKeyName, text);
  };
}

}  // namespace ondavox::client
