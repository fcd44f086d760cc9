#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ondavox {

// The machine's name and address, as the window titles show them. Injected so tests can
// choose both; SystemHostResolver() asks the system. Any thread.
class HostResolver {
 public:
  virtual ~HostResolver() = default;
  // The host name, or nothing when the system cannot tell it.
  virtual std::optional<std::string> HostName() = 0;
  // The first IPv4 address the name resolves to, in dotted decimal, or nothing.
  virtual std::optional<std::string> FirstAddress(const std::string& hostName) = 0;
};

HostResolver& SystemHostResolver();

// The main window's title: |prefix| + host name + " - " + the host's first address, or nothing
// when a look-up fails (the caller then keeps the title it has). Writes "Hostname=<name>" and
// the failure lines to the debug output.
std::optional<std::string> MakeHostTitle(std::string_view prefix,
                                         HostResolver& resolver = SystemHostResolver());

}  // namespace ondavox
