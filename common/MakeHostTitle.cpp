#include "common/MakeHostTitle.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include "platform/Trace.h"

namespace ondavox {
namespace {

class SystemResolver final : public HostResolver {
 public:
  std::optional<std::string> HostName() override {
    char name[80] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    return std::string(name);
  }

  std::optional<std::string> FirstAddress(const std::string& hostName) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (::getaddrinfo(hostName.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) {
      return std::nullopt;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    ::freeaddrinfo(answer);
    return std::string(text);
  }
};

}  // namespace

HostResolver& SystemHostResolver() {
  static SystemResolver resolver;
  return resolver;
}

std::optional<std::string> MakeHostTitle(std::string_view prefix, HostResolver& resolver) {
  const std::optional<std::string> name = resolver.HostName();
  if (!name) {
    DebugOut("gethostname error\n");
    return std::nullopt;
  }
  DebugOut("Hostname=<" + *name + ">\n");
  const std::optional<std::string> address = resolver.FirstAddress(*name);
  if (!address) {
    DebugOut("gethostbyname error\n");
    return std::nullopt;
  }
  return std::string(prefix) + *name + " - " + *address;
}

}  // namespace ondavox
