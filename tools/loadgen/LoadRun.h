#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Defaults.h"

namespace ondavox::load {

struct LoadOptions {
  uint32_t address = 0;  // network byte order
  uint16_t port = kDefaultTcpPort;
  int connections = 50;
  uint64_t requests = 100000;  // WHOIS/FILEINFO requests after the registrations
  double seconds = 60;         // the whole run stops after this, whatever is left
  int threads = 2;
  std::string loginPrefix = "load";
  std::string documentName = "clip.avi";
  std::string documentOwner = "root";
};

struct LoadResult {
  int connected = 0;   // connections that registered their user
  int failedToConnect = 0;  // connections closed or refused before their registration
  int held = 0;        // of those, still open at the end
  uint64_t requests = 0;    // replies received to WHOIS/FILEINFO
  uint64_t mismatched = 0;  // replies that do not answer their request
  uint64_t lost = 0;        // requests whose reply never came
  double seconds = 0;       // time of the request phase
  std::vector<uint64_t> latenciesNs;  // of the WHOIS/FILEINFO requests, sorted
};

// Opens the connections, registers one user on each, then runs the request mix until the
// budget or the time is used up, checking every reply. Blocks; bounded by options.seconds.
LoadResult RunLoad(const LoadOptions& options);

}  // namespace ondavox::load
